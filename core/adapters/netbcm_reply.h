// The network BCM adapter's reply datagram and its parser.
//
// One datagram holds reply blocks in the BCM block form (core/adapters/bcm_block.h):
//
//   0xAB, type, data length N, sequence (bit 7 = last block, low 7 bits = number from 1),
//   N data bytes, checksum (all bytes of the block sum to 0 modulo 256)
//
// An adapter answers one query with blocks of more than one type in the same datagram (the
// status query with status and alarm blocks, the identification query with the status block
// in front of the identification), so the parser looks for the blocks of the type it wants,
// steps over the others, and joins the wanted data in block-number order. Unlike the serial
// line's parser it never fails on a change of type; it has its own result codes:
//
//   0 complete        the wanted blocks 1..k, the last one with bit 7, all intact
//   1 no block        not one block in the datagram
//   2 not wanted      blocks, but none of the wanted type
//   3 sequence        a wanted block whose number is not the next one
//   4 checksum        a block whose bytes do not sum to 0
//   5 incomplete      wanted blocks, but the datagram ends before the last of them (a block
//                     cut short, or no block with bit 7)
//
// Every length is checked against the bytes present; scanning stops at the end of the
// datagram. Bytes between blocks that are no start byte are stepped over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum NetBcmParseResult : int {
  NETBCM_REPLY_COMPLETE = 0,
  NETBCM_REPLY_NO_BLOCK = 1,
  NETBCM_REPLY_NOT_WANTED = 2,
  NETBCM_REPLY_SEQUENCE = 3,
  NETBCM_REPLY_CHECKSUM = 4,
  NETBCM_REPLY_INCOMPLETE = 5,
};
inline constexpr int kNetBcmParseResults = 6;

// Data longer than this in one block is unusual for an adapter; such blocks are counted.
inline constexpr size_t kNetBcmLongBlock = 126;

// How often each outcome was seen, and how many blocks were longer than 126 data bytes.
struct NetBcmParseCounters {
  uint32_t outcome[kNetBcmParseResults] = {};
  uint32_t longBlocks = 0;
};

// Parses `size` bytes for the blocks of `wantedType`. On result 0 `data` holds their joined
// data; on any other result it is empty. `counters` (may be null) counts the outcome.
int ParseNetBcmReply(const uint8_t* bytes, size_t size, uint8_t wantedType, std::vector<uint8_t>& data,
                     NetBcmParseCounters* counters = nullptr);

// The type of the first intact block of the datagram; -1 when there is none.
int FirstNetBcmBlockType(const uint8_t* bytes, size_t size);
