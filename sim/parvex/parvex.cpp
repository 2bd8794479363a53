// The simulated archive-I/O host.
#include <errno.h>
#include <unistd.h>

#include "module/host_api.h"
#include "parvex/parvex_driver.h"

namespace {

struct Archive {
    std::vector<ArchiveReadCallbackFn> callbacks;
    std::vector<ParvexExtendCall> extends;
};

Archive archiveHost;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void QD_CDECL parvexAddCallback(ArchiveReadCallbackFn callback) {
    archiveHost.callbacks.push_back(callback);
}

__attribute__((visibility("default"))) void QD_CDECL parvexExtendSlots(int32_t archive, int32_t slots) {
    archiveHost.extends.push_back({archive, slots});
}
}

ParvexRead parvexGameRead(uint32_t archive, uint32_t file) {
    ParvexRead result;
    for (ArchiveReadCallbackFn callback : archiveHost.callbacks) {
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
        result.bytes.resize(size);
        size_t got = 0;
        while (got < size) {
            ssize_t n = read(fd, result.bytes.data() + got, size - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        result.bytes.resize(got);
        close(fd);
        return result;
    }
    return result;
}

void parvexReset() {
    archiveHost.callbacks.clear();
    archiveHost.extends.clear();
}

int parvexCallbackCount() {
    return static_cast<int>(archiveHost.callbacks.size());
}

const std::vector<ParvexExtendCall>& parvexExtendCalls() {
    return archiveHost.extends;
}
