#include "app/updater/UpdateDownload.h"

#include "app/updater/UpdateFailure.h"
#include "app/updater/WorkFolder.h"

#include <QUuid>

#include <sys/stat.h>

namespace Plovander {

std::filesystem::path UpdateDownload::destinationIn(const std::filesystem::path& folder) {
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    return folder / (std::string(namePrefix) + uuid + std::string(nameSuffix));
}

void UpdateDownload::sweepLeftovers(const std::filesystem::path& folder) {
    WorkFolder::removeLeftovers(folder, namePrefix, nameSuffix);
}

std::filesystem::path UpdateDownload::download(const TessaloyCore::ReleaseManifest& manifest,
                                               ReleaseFetch::Options transport, const std::filesystem::path& folder) {
    transport.destination = destinationIn(folder);
    if (transport.limit == 0) transport.limit = limit;
    if (transport.idleTimeout.count() == 0) transport.idleTimeout = idleTimeout;
    if (transport.deadline.count() == 0) transport.deadline = deadline;
    transport.userAgent.clear();
    const auto failed = [&](UpdateFailure::Kind kind) {
        std::error_code ignored;
        std::filesystem::remove(transport.destination, ignored);
        return UpdateFailure(kind);
    };
    try {
        const auto result = ReleaseFetch::fetch(manifest.url, transport);
        struct stat info {};
        if (result.status != 200 || ::stat(transport.destination.c_str(), &info) != 0 || info.st_size <= 0) {
            throw failed(UpdateFailure::Kind::download);
        }
        return transport.destination;
    } catch (const UpdateFailure& failure) {
        throw failed(failure.kind());
    } catch (const std::exception&) {
        const bool cancelled = transport.cancelled && transport.cancelled->load();
        throw failed(cancelled ? UpdateFailure::Kind::withdrawn : UpdateFailure::Kind::download);
    }
}

} // namespace Plovander
