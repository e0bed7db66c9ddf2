#include "hdf5_util.h"

#include <cstring>

namespace qz417::recording::h5 {

void Quiet() {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

namespace {

struct Walk {
    std::string outer;
    int systemError = 0;
};

herr_t Visit(unsigned n, const H5E_error2_t *e, void *data) {
    auto *w = static_cast<Walk *>(data);
    const char *desc = e->desc ? e->desc : "";
    if (n == 0)
        w->outer = desc;
    // Low-level file driver failures carry the system's errno in their text.
    if (const char *at = std::strstr(desc, "errno = "); at != nullptr && w->systemError == 0)
        w->systemError = std::atoi(at + 8);
    return 0;
}

} // namespace

std::string LastError() {
    Walk w;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, Visit, &w);
    if (w.systemError > 0)
        return std::strerror(w.systemError);
    if (!w.outer.empty())
        return w.outer;
    return "HDF5 library error";
}

void Fail(const std::string &what) {
    throw RecordingError(what + ": " + LastError());
}

} // namespace qz417::recording::h5
