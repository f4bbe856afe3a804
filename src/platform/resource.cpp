#include "platform/resource.h"

#include "platform/embedded_resource.h"
#include "platform/window.h"
#include "platform/window_internal.h"

#include <cctype>
#include <string>

namespace tessivane::platform {

namespace {

// Constant-initialised, so registrations from other files' static initialisers never meet
// an uninitialised list whatever the order the files are initialised in.
detail::EmbeddedResource* registered = nullptr;

// A type or name as asked for: an id, or text.
struct Key {
    bool isId;
    WORD id;
    const char* text;
};

Key keyOf(LPCSTR nameOrId) {
    if (IS_INTRESOURCE(nameOrId)) {
        return {true, static_cast<WORD>(reinterpret_cast<std::uintptr_t>(nameOrId)), nullptr};
    }
    // "#101" is the id 101 written as text.
    if (nameOrId[0] == '#' && nameOrId[1] != '\0') {
        unsigned long id = 0;
        const char* c = nameOrId + 1;
        while (*c >= '0' && *c <= '9' && id <= 0xFFFF) {
            id = id * 10 + static_cast<unsigned long>(*c - '0');
            ++c;
        }
        if (*c == '\0' && id <= 0xFFFF) {
            return {true, static_cast<WORD>(id), nullptr};
        }
    }
    return {false, 0, nameOrId};
}

bool sameText(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::toupper(static_cast<unsigned char>(*a)) !=
            std::toupper(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

bool matches(const Key& key, const char* text, WORD id) {
    if (key.isId) {
        return text == nullptr && id == key.id;
    }
    return text != nullptr && sameText(text, key.text);
}

std::string describe(const Key& key) {
    return key.isId ? std::to_string(key.id) : std::string("\"") + key.text + "\"";
}

detail::EmbeddedResource* entryOf(HRSRC resource) {
    return reinterpret_cast<detail::EmbeddedResource*>(resource);
}

} // namespace

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (module != nullptr && module != GetModuleHandleA(nullptr)) {
        detail::setLastError("resources can only be found in the program itself");
        return nullptr;
    }
    if (name == nullptr || type == nullptr) {
        detail::setLastError("a resource was looked for without a name or a type");
        return nullptr;
    }
    const Key wantedName = keyOf(name);
    const Key wantedType = keyOf(type);
    bool typeFound = false;
    for (detail::EmbeddedResource* r = registered; r != nullptr; r = r->next) {
        if (matches(wantedType, r->typeName, r->typeId)) {
            typeFound = true;
            if (matches(wantedName, r->name, r->nameId)) {
                return reinterpret_cast<HRSRC>(r);
            }
        }
    }
    detail::setLastError(typeFound
                             ? "the program has no resource " + describe(wantedName) + " of type " +
                                   describe(wantedType)
                             : "the program has no resources of type " + describe(wantedType));
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) {
        return nullptr;
    }
    // The data sits in the program's read-only image, as a loaded resource does; the handle
    // is its address.
    return const_cast<BYTE*>(entryOf(resource)->data);
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource == nullptr ? 0 : entryOf(resource)->size;
}

namespace detail {

void registerEmbeddedResource(EmbeddedResource& resource) {
    resource.next = registered;
    registered = &resource;
}

} // namespace detail

} // namespace tessivane::platform
