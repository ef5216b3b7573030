#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace Platform {

// The places and file facilities that transfers need: the user's downloads folder, the private
// folder of incoming work files, the move of a received file that never replaces anything, the mark
// of a file that came from elsewhere, and the content type of a file to send. Main thread only, but
// for prepareWorkFolder() and emptyWorkFolder(), which run on the queue that writes the work files.
class TransferFiles {
public:
    // The folders of the current user (XDG download directory, XDG cache directory).
    static std::unique_ptr<TransferFiles> create();

    virtual ~TransferFiles() = default;

    // The user's downloads folder; it need not exist.
    virtual std::filesystem::path downloadsFolder() const = 0;
    // Where incoming transfers write their work files; nothing is made here.
    virtual std::filesystem::path workFolder() const = 0;
    // Makes workFolder() if missing and makes sure that only this user can reach it: a real folder
    // (not a link) owned by this user, mode 0700 (a wider mode is narrowed). Throws
    // std::system_error when it cannot be made or belongs to someone else.
    virtual void prepareWorkFolder() const = 0;
    // Deletes what an earlier run left in workFolder(): the partial work files of transfers cut off
    // by a crash. Only after prepareWorkFolder() and while no inbox writes there. A folder that is not
    // this user's own is left alone, and so is anything that cannot be deleted.
    virtual void emptyWorkFolder() const = 0;

    // Moves `file` to `destination` only if nothing exists there, as one atomic claim of the name;
    // across file systems it copies into a freshly created file and then deletes `file`. Returns
    // false, changing nothing, when the destination exists. Throws std::system_error for any other
    // failure, leaving no partial destination behind.
    virtual bool moveWithoutReplacing(const std::filesystem::path& file,
                                      const std::filesystem::path& destination) const = 0;
    // Marks a received file as coming from another device at `now`. Returns false when the file
    // system refuses the mark.
    virtual bool setQuarantine(const std::filesystem::path& file, std::chrono::system_clock::time_point now) const = 0;
    // The type identifier that the file's name tells ("public.jpeg" for photo.jpg), "public.data" for
    // a name of no known type, empty when the type cannot be told. The file is never opened, so this
    // is quick for any file: a named pipe, a huge file, one on a slow disk or none at all.
    virtual std::string contentType(const std::filesystem::path& file) const = 0;
};

} // namespace Platform
