#pragma once

// Where the tags around the audio of an MP3 file lie, told from their own
// headers and footers: an ID3v2 tag at a known place, and the blocks that
// stack up at the end of a file (ID3v1, APEv2, Lyrics3v2, an ID3v2 tag with
// a footer). Reads nothing itself: the caller hands over the bytes.

#include <cstdint>
#include <functional>

constexpr int32_t ID3v2HeaderSize = 10;

// The whole size of the ID3v2 tag whose 10-byte header is Head (header,
// body and footer), or -1 when Head is no ID3v2 header.
int64_t ID3v2TagSize(const uint8_t* Head);

// Reads Count bytes at a file offset into Dest; false when they aren't all
// there.
using TReadAt = std::function<bool(int64_t At, uint8_t* Dest, uint32_t Count)>;

// Where the tag that ends exactly at End begins, or -1 when none ends there.
int64_t TrailingTagStart(const TReadAt& Read, int64_t End);
