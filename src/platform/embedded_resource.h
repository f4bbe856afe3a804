// Inside the platform layer and the sources generated for embedded assets only: how an
// asset compiled into the program makes itself known to FindResourceA.
#pragma once

#include "platform/win_types.h"

namespace tessivane::platform::detail {

// One embedded asset. Type and name are each either text (typeName/name not null) or an
// integer id (typeId/nameId, used when the text is null).
struct EmbeddedResource {
    const char* typeName;
    WORD typeId;
    const char* name;
    WORD nameId;
    const BYTE* data;
    DWORD size;
    EmbeddedResource* next; // set on registration
};

// Adds resource to the program's resources. Called by each generated asset source from a
// static initialiser; the record must live as long as the program.
void registerEmbeddedResource(EmbeddedResource& resource);

} // namespace tessivane::platform::detail
