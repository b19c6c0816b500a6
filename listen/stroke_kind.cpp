#include "listen/stroke_kind.h"

char strokeLetter(StrokeKind kind) {
    switch (kind) {
        case StrokeKind::Doum: return 'D';
        case StrokeKind::Tek: return 'T';
        case StrokeKind::Slap: return 'S';
    }
    return '?';
}

std::optional<StrokeKind> strokeKindOf(StepSound sound) {
    switch (sound) {
        case StepSound::Doum: return StrokeKind::Doum;
        case StepSound::Tek:
        case StepSound::HalfTek: return StrokeKind::Tek;
        case StepSound::Slap: return StrokeKind::Slap;
        case StepSound::None: break;
    }
    return std::nullopt;
}
