// The plug-in interface's layouts are checked where the header is compiled
// (both targets build this file); here the four-character codes.
#include <gtest/gtest.h>

#include "wrappers/vst/vst2abi.h"

namespace {
constexpr int32_t fourCharacters(const char (&code)[5]) {
    return (code[0] << 24) | (code[1] << 16) | (code[2] << 8) | code[3];
}
}  // namespace

TEST(Vst2Interface, MagicAndIdentifyAnswerSpellTheirCodes) {
    EXPECT_EQ(fourCharacters("VstP"), kVst2Magic);
    EXPECT_EQ(fourCharacters("NvEf"), kVst2IdentifyAnswer);
}
