#pragma once

#include <cstddef>
#include <cstdint>

// A dialog template as the resource compiler records it in an extended dialog template: the
// window system builds dialogs from these. On Linux they are generated at build time from the
// same resource script that the Windows build compiles, and linked into the program.
namespace orvane::platform {

struct DialogItemTemplate {
    const char* className; // "BUTTON", "STATIC", "EDIT", ...
    const char* text;
    std::int32_t id; // -1 for a label that is never addressed
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, cx, cy; // dialog units
};

struct DialogTemplate {
    const char* name; // the resource name, e.g. "DLG_USE"
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, cx, cy; // dialog units
    const char* caption;
    std::uint16_t pointSize; // 0 without a FONT statement
    std::uint16_t weight;
    std::uint8_t italic;
    std::uint8_t charset;
    const char* typeface;
    const DialogItemTemplate* items;
    std::size_t itemCount;
};

// Makes templates known to DialogBoxParamA. The generated resource source calls it from a static
// initialiser; the array must live for the rest of the process.
void registerDialogTemplates(const DialogTemplate* templates, std::size_t count);

// The template registered under name, or null.
const DialogTemplate* findDialogTemplate(const char* name);

} // namespace orvane::platform
