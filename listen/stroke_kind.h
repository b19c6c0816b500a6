// stroke_kind.h - the strokes the listener tells apart, and how the notation's steps map to
// them. Tek and ka (the other hand's tek) and the half tek sound alike on a drum and are one
// kind here; a learner who plays a tek where a ka is written has played the right stroke.
//
// Threads: any; plain data. Ownership: nothing is owned.
#pragma once

#include <cstdint>
#include <optional>

#include "rhythm/notation_parser.h"

enum class StrokeKind : int32_t { Doum, Tek, Slap };
constexpr int strokeKindCount = 3;

// 'D', 'T' or 'S'.
char strokeLetter(StrokeKind kind);

// The kind a step asks for; none for a rest.
std::optional<StrokeKind> strokeKindOf(StepSound sound);
