#include "tests/support/FakePasteboard.h"

#include <algorithm>
#include <array>

namespace Testing {
namespace {

struct FakeImage final : Platform::Pasteboard::Image {
    explicit FakeImage(TessaloyCore::Bytes bytes) : bytes(std::move(bytes)) {}
    TessaloyCore::Bytes bytes;
};

bool startsWith(TessaloyCore::ByteView bytes, std::initializer_list<std::uint8_t> signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
}

} // namespace

void FakePasteboard::clearContents() {
    contents = {};
    writes_.push_back({Write::Kind::clear, {}, {}});
}

void FakePasteboard::setString(std::string_view text) {
    contents.string = std::string(text);
    addType(textType);
    writes_.push_back({Write::Kind::string, std::string(text), {}});
}

std::unique_ptr<Platform::Pasteboard::Image> FakePasteboard::makeImage(TessaloyCore::ByteView encoded) const {
    ++imagesMade_;
    const bool png = startsWith(encoded, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    const bool jpeg = startsWith(encoded, {0xFF, 0xD8, 0xFF});
    if (!png && !jpeg) return nullptr;
    return std::make_unique<FakeImage>(TessaloyCore::Bytes(encoded.begin(), encoded.end()));
}

void FakePasteboard::writeImage(const Image& image) {
    const auto& fake = dynamic_cast<const FakeImage&>(image);
    contents.image = fake.bytes;
    addType(pngType);
    writes_.push_back({Write::Kind::image, {}, fake.bytes});
}

void FakePasteboard::setData(TessaloyCore::ByteView data, std::string_view type) {
    TessaloyCore::Bytes bytes(data.begin(), data.end());
    contents.data[std::string(type)] = bytes;
    addType(type);
    writes_.push_back({Write::Kind::data, std::string(type), std::move(bytes)});
}

void FakePasteboard::addType(std::string_view type) {
    if (std::find(contents.types.begin(), contents.types.end(), type) == contents.types.end()) {
        contents.types.emplace_back(type);
    }
}

} // namespace Testing
