// The message table behind result codes.
#pragma once

#include <cstdint>

// The text for a result code (a message id, or minus one for a notice);
// null for an id the table does not have.
const char* messageText(int32_t code);
