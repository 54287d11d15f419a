// The dialog table the Linux build generates from the resource script must say exactly what the
// Windows resource compiler makes of the same script: compile it with windres and compare the
// binary extended dialog template field by field.
#include "platform/win32_ui_template.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Reader {
    const std::vector<unsigned char>& bytes;
    std::size_t pos = 0;

    std::uint16_t word() {
        if (pos + 2 > bytes.size())
            throw std::runtime_error("truncated resource");
        const std::uint16_t v = static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] << 8));
        pos += 2;
        return v;
    }
    std::uint32_t dword() {
        const std::uint32_t lo = word();
        return lo | (static_cast<std::uint32_t>(word()) << 16);
    }
    std::int16_t coordinate() { return static_cast<std::int16_t>(word()); }
    std::uint8_t byte() {
        if (pos >= bytes.size())
            throw std::runtime_error("truncated resource");
        return bytes[pos++];
    }
    void align4() { pos = (pos + 3) & ~std::size_t{3}; }
    // A NUL-terminated UTF-16 string holding only Latin-1 here.
    std::string text() {
        std::string s;
        for (std::uint16_t c = word(); c != 0; c = word())
            s += static_cast<char>(c);
        return s;
    }
    // A string or, after 0xFFFF, an ordinal (written as "#N").
    std::string nameOrOrdinal() {
        const std::uint16_t first = word();
        if (first == 0)
            return "";
        if (first == 0xFFFF)
            // Not "#" + ...: GCC 12 at -O3 warns (-Wrestrict) on "literal" + std::string&&.
            return std::string(1, '#').append(std::to_string(word()));
        std::string s(1, static_cast<char>(first));
        return s + text();
    }
};

// Windows' predefined control classes by their ordinal.
std::string className(const std::string& raw) {
    if (raw == "#128")
        return "BUTTON";
    if (raw == "#129")
        return "EDIT";
    if (raw == "#130")
        return "STATIC";
    std::string upper = raw;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::vector<unsigned char> compileWithWindres(const std::string& rc) {
    const std::string out = ::testing::TempDir() + "dlg_use.res";
    const std::string command =
        std::string(ORVANE_WINDRES) + " -O res -i '" + rc + "' -o '" + out + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("windres failed: " + command);
    std::ifstream in(out, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

TEST(DialogTemplate, GeneratedTableMatchesWhatTheResourceCompilerBuilds) {
    if (std::string(ORVANE_WINDRES).empty())
        GTEST_SKIP() << "no windres on this machine";
    const orvane::platform::DialogTemplate* t = orvane::platform::findDialogTemplate("DLG_USE");
    ASSERT_NE(t, nullptr);
    const std::vector<unsigned char> res = compileWithWindres(ORVANE_DLG_USE_RC);

    // Walk the .res entries to the dialog named DLG_USE (type 5).
    Reader r{res};
    bool found = false;
    while (!found && r.pos < res.size()) {
        const std::uint32_t dataSize = r.dword();
        const std::uint32_t headerSize = r.dword();
        const std::size_t headerStart = r.pos - 8;
        const std::string type = r.nameOrOrdinal();
        const std::string name = r.nameOrOrdinal();
        r.pos = headerStart + headerSize;
        if (type == "#5" && name == "DLG_USE") {
            found = true;
            break;
        }
        r.pos += dataSize;
        r.align4();
    }
    ASSERT_TRUE(found);

    ASSERT_EQ(r.word(), 1);      // version
    ASSERT_EQ(r.word(), 0xFFFF); // extended template
    r.dword();                   // help id
    EXPECT_EQ(r.dword(), t->exStyle);
    const std::uint32_t style = r.dword();
    EXPECT_EQ(style, t->style);
    const std::uint16_t count = r.word();
    ASSERT_EQ(count, t->itemCount);
    EXPECT_EQ(r.coordinate(), t->x);
    EXPECT_EQ(r.coordinate(), t->y);
    EXPECT_EQ(r.coordinate(), t->cx);
    EXPECT_EQ(r.coordinate(), t->cy);
    EXPECT_EQ(r.nameOrOrdinal(), ""); // no menu
    EXPECT_EQ(r.nameOrOrdinal(), ""); // default class
    EXPECT_EQ(r.text(), t->caption);
    ASSERT_TRUE(style & 0x40); // DS_SETFONT: the font follows
    EXPECT_EQ(r.word(), t->pointSize);
    EXPECT_EQ(r.word(), t->weight);
    EXPECT_EQ(r.byte(), t->italic);
    EXPECT_EQ(r.byte(), t->charset);
    EXPECT_EQ(r.text(), t->typeface);

    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const orvane::platform::DialogItemTemplate& item = t->items[i];
        r.align4();
        r.dword(); // help id
        EXPECT_EQ(r.dword(), item.exStyle);
        EXPECT_EQ(r.dword(), item.style);
        EXPECT_EQ(r.coordinate(), item.x);
        EXPECT_EQ(r.coordinate(), item.y);
        EXPECT_EQ(r.coordinate(), item.cx);
        EXPECT_EQ(r.coordinate(), item.cy);
        EXPECT_EQ(static_cast<std::int32_t>(r.dword()), item.id);
        EXPECT_EQ(className(r.nameOrOrdinal()), item.className);
        EXPECT_EQ(r.nameOrOrdinal(), item.text);
        r.pos += r.word(); // creation data
    }
}

} // namespace
