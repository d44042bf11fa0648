// Message ids of the launcher's string table; portable, no OS headers.
#pragma once

enum MessageId {
#define SFXRUN_MESSAGE(id, name, text) name = id,
#include "messages.def"
#undef SFXRUN_MESSAGE
};
