// The replies typed by the user and the one random generator every pick draws from. Both are
// shared by the interface thread and the check thread and are touched only under ReplyLock.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "lock.h"
#include "text.h"

// Guards the reply list, the generator's state and the seed counter.
extern Lock ReplyLock;

// Start-up: the list becomes empty.
void CreateReplyList();
// Splits the whole text at "\r\n" outside the lock, then swaps the new list in under it.
void RebuildReplyList(std::string_view text);
// Shut-down: releases the list. Later picks find no list and pick nothing.
void ReleaseReplyList();

// Seeds the generator from the tick count plus a counter that grows at every seeding.
void SeedReplyRandom();
// Advances the generator and returns 0..32767. The caller holds ReplyLock.
unsigned DrawReplyRandom();
// A copy of one reply chosen at random, or nothing when the list is empty or released.
std::optional<Text> PickReply();

// Puts the generator and the seed counter back to their start-up values (state 1, counter 0).
void ResetReplyRandomForTest();
