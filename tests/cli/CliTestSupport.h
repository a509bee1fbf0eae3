#pragma once

// What the segmora-cli tests share: a temporary folder and two fixtures,
// one ending in a tag and one without.

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

inline bool Contains(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

class TCliTest : public testing::Test {
protected:
    TTempDir Dir;
    const std::string Tagged = FixturePath("id3v1-end.mp3");
    const std::string Plain = FixturePath("cbr-128-info.mp3");
};
