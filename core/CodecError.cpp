#include "core/CodecError.h"

namespace TessaloyCore {

const char* nameOf(CodecProblem problem) noexcept {
    switch (problem) {
        case CodecProblem::wrongKind:
            return "wrongKind";
        case CodecProblem::truncated:
            return "truncated";
        case CodecProblem::unknownTag:
            return "unknownTag";
        case CodecProblem::invalidValue:
            return "invalidValue";
        case CodecProblem::tooLong:
            return "tooLong";
        case CodecProblem::trailingBytes:
            return "trailingBytes";
    }
    return "unknown";
}

} // namespace TessaloyCore
