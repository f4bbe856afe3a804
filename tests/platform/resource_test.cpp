// Finding the program's embedded resources by type and name.
#include "platform/platform.h"
#include "platform/resource.h"
#include "platform/window.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace tessivane::platform {
namespace {

// Embedded into this test program (tests/CMakeLists.txt): data/greeting.txt as TEXT /
// GREETING and as RT_RCDATA / 7, data/empty.bin as TEXT / 7.
const char GREETING[] = "Hello from the program itself.\n";

std::string contents(HRSRC resource) {
    const auto* data = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
    return std::string(data, SizeofResource(nullptr, resource));
}

TEST(Resources, FoundByTextWithoutRegardToCaseOrById) {
    HRSRC byText = FindResourceA(nullptr, "greeting", "Text");
    ASSERT_NE(byText, nullptr) << lastPlatformError();
    EXPECT_EQ(contents(byText), GREETING);
    EXPECT_EQ(FindResourceA(nullptr, "GREETING", "TEXT"), byText);

    HRSRC byId = FindResourceA(nullptr, MAKEINTRESOURCEA(7), RT_RCDATA);
    ASSERT_NE(byId, nullptr) << lastPlatformError();
    EXPECT_EQ(contents(byId), GREETING);
    // "#7" is the id 7 written as text, for the name and the type alike.
    EXPECT_EQ(FindResourceA(nullptr, "#7", "#10"), byId);
    EXPECT_EQ(FindResourceA(GetModuleHandleA(nullptr), "#7", RT_RCDATA), byId);

    // The same id under another type is another resource.
    HRSRC empty = FindResourceA(nullptr, MAKEINTRESOURCEA(7), "TEXT");
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty, byId);
    EXPECT_EQ(SizeofResource(nullptr, empty), 0u);
    EXPECT_NE(LockResource(LoadResource(nullptr, empty)), nullptr);
}

TEST(Resources, WhatIsNotThereIsNullAndSaysWhy) {
    EXPECT_EQ(FindResourceA(nullptr, "FAREWELL", "TEXT"), nullptr);
    EXPECT_STREQ(lastPlatformError(), "the program has no resource \"FAREWELL\" of type \"TEXT\"");
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(7), "PICTURE"), nullptr);
    EXPECT_STREQ(lastPlatformError(), "the program has no resources of type \"PICTURE\"");
    // Text that only looks like an id is a name.
    EXPECT_EQ(FindResourceA(nullptr, "#7x", RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "#70000", RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "GREETING", nullptr), nullptr);
    int other = 0;
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(&other), "GREETING", "TEXT"), nullptr);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

} // namespace
} // namespace tessivane::platform
