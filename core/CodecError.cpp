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

const char* descriptionOf(CodecProblem problem) noexcept {
    switch (problem) {
        case CodecProblem::wrongKind:
            return "A message arrived as the wrong kind of packet.";
        case CodecProblem::truncated:
            return "A message arrived cut short.";
        case CodecProblem::unknownTag:
            return "A message of an unknown type arrived.";
        case CodecProblem::invalidValue:
            return "A message held a value out of range.";
        case CodecProblem::tooLong:
            return "A message held a field that is too long.";
        case CodecProblem::trailingBytes:
            return "A message arrived with extra bytes.";
    }
    return "Something went wrong.";
}

} // namespace TessaloyCore
