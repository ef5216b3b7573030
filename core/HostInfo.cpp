#include "core/HostInfo.h"

#include "core/ByteReader.h"
#include "core/FieldWriter.h"

namespace TessaloyCore {

HostInfo HostInfo::read(ByteReader& reader) {
    HostInfo info;
    info.version = reader.textOfCharacters(maximumTextCharacters);
    info.build = reader.textOfCharacters(maximumTextCharacters);
    info.system = reader.textOfCharacters(maximumTextCharacters);
    info.model = reader.textOfCharacters(maximumTextCharacters);
    if (reader.boolean()) {
        AvailableRelease release;
        release.version = reader.textOfCharacters(maximumTextCharacters);
        release.build = reader.i64();
        info.available = std::move(release);
    }
    info.canInstall = reader.boolean();
    return info;
}

void HostInfo::write(FieldWriter& writer) const {
    for (const std::string* text : {&version, &build, &system, &model}) {
        writer.textOfCharacters(*text, maximumTextCharacters);
    }
    writer.boolean(available.has_value());
    if (available) {
        writer.textOfCharacters(available->version, maximumTextCharacters);
        writer.i64(available->build);
    }
    writer.boolean(canInstall);
}

} // namespace TessaloyCore
