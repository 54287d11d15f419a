#include "platform/win32_ui_template.h"

#include <cstring>
#include <vector>

namespace orvane::platform {
namespace {

// Filled by static initialisers before main and only read afterwards.
std::vector<const DialogTemplate*>& templates() {
    static std::vector<const DialogTemplate*> list;
    return list;
}

} // namespace

void registerDialogTemplates(const DialogTemplate* list, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        templates().push_back(&list[i]);
}

const DialogTemplate* findDialogTemplate(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const DialogTemplate* t : templates()) {
        if (std::strcmp(t->name, name) == 0)
            return t;
    }
    return nullptr;
}

} // namespace orvane::platform
