#include "core/FieldWriter.h"

#include "core/ByteReader.h"

namespace TessaloyCore {
namespace {

[[noreturn]] void fail(CodecProblem problem) { throw CodecError<FieldWriter>(problem); }

} // namespace

void FieldWriter::require(bool isValid) {
    if (!isValid) fail(CodecProblem::invalidValue);
}

void FieldWriter::f64(double value) { require(writer_.f64(value)); }

void FieldWriter::text(std::string_view text, std::size_t maximumBytes) {
    require(isValidUtf8(text));
    if (!writer_.text(text, maximumBytes)) fail(CodecProblem::tooLong);
}

void FieldWriter::textOfCharacters(std::string_view text, std::size_t maximumCharacters) {
    require(isValidUtf8(text));
    if (!writer_.textOfCharacters(text, maximumCharacters)) fail(CodecProblem::tooLong);
}

void FieldWriter::bytes(ByteView bytes, std::size_t maximumBytes) {
    if (!writer_.bytes(bytes, maximumBytes)) fail(CodecProblem::tooLong);
}

void FieldWriter::count(std::size_t value, std::size_t maximumCount) {
    if (!writer_.count(value, maximumCount)) fail(CodecProblem::tooLong);
}

} // namespace TessaloyCore
