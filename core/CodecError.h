#pragma once

#include "core/CaseError.h"

namespace TessaloyCore {

// What a payload decoder found wrong, in the order decoders check: a packet of another kind, too
// few bytes, an unknown tag, a value outside its range (including invalid UTF-8 and NaN), a field
// over its limit, bytes left over.
enum class CodecProblem { wrongKind, truncated, unknownTag, invalidValue, tooLong, trailingBytes };

const char* nameOf(CodecProblem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(CodecProblem problem) noexcept;

// The error of one codec: `CodecError<SessionMessage>`, `CodecError<InputEvent>`, ... Each codec
// has its own type, and all of them can be caught as CaseError<CodecProblem>.
template <typename Codec>
class CodecError : public CaseError<CodecProblem> {
public:
    using CaseError::CaseError;
};

class ByteReader;

// Runs `decode`, turning the field reader's failure into the error of `Codec`.
template <typename Codec, typename Decode>
auto decodeAs(Decode&& decode) -> decltype(decode()) {
    try {
        return decode();
    } catch (const CodecError<ByteReader>& failure) {
        throw CodecError<Codec>(failure.value());
    }
}

} // namespace TessaloyCore
