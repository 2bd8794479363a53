// The simulated archive-I/O host.
#include <errno.h>

#include <unistd.h>
#include <algorithm>

#include <mutex>

#include "module/host_api.h"
#include "parvex/parvex_driver.h"

namespace {

// The game may read from several threads at once: the lists are guarded, and
// no lock is held while a callback runs (it calls back into the host).
struct Archive {
    std::mutex lock;
    std::vector<ArchiveReadCallbackFn> callbacks;
    std::vector<ParvexExtendCall> extends;
};

Archive archiveHost;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void QD_CDECL parvexAddCallback(ArchiveReadCallbackFn callback) {
    std::lock_guard<std::mutex> guard(archiveHost.lock);
    archiveHost.callbacks.push_back(callback);
}

__attribute__((visibility("default"))) void QD_CDECL parvexExtendSlots(int32_t archive, int32_t slots) {
    std::lock_guard<std::mutex> guard(archiveHost.lock);
    archiveHost.extends.push_back({archive, slots});
}
}

ParvexRead parvexGameRead(uint32_t archive, uint32_t file) {
    ParvexRead result;
    std::vector<ArchiveReadCallbackFn> callbacks;
    {
        std::lock_guard<std::mutex> guard(archiveHost.lock);
        callbacks = archiveHost.callbacks;
    }
    for (ArchiveReadCallbackFn callback : callbacks) {
        PlatformHandle handle = PLATFORM_INVALID_HANDLE;
        uint32_t size = 0;
        if (callback(archive, file, &handle, &size) == 0)
            continue;
        result.answered = true;
        result.announcedSize = size;
        int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle));
        if (handle == PLATFORM_INVALID_HANDLE)
            return result;
        result.handleValid = true;
        // Read in pieces through a small buffer that stays in the cache, so
        // the host's own copy is the only pass over the file's memory (no
        // zero-filling of a buffer that the read then overwrites).
        result.bytes.reserve(size);
        uint8_t piece[1 << 16];
        while (result.bytes.size() < size) {
            const size_t want = std::min(sizeof piece, size_t(size) - result.bytes.size());
            ssize_t n = read(fd, piece, want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            result.bytes.insert(result.bytes.end(), piece, piece + n);
        }
        close(fd);
        return result;
    }
    return result;
}

void parvexReset() {
    std::lock_guard<std::mutex> guard(archiveHost.lock);
    archiveHost.callbacks.clear();
    archiveHost.extends.clear();
}

int parvexCallbackCount() {
    std::lock_guard<std::mutex> guard(archiveHost.lock);
    return static_cast<int>(archiveHost.callbacks.size());
}

const std::vector<ParvexExtendCall>& parvexExtendCalls() {
    return archiveHost.extends;
}
