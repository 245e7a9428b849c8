// Preloaded into a program, makes every sendfile fail as it does where the kernel cannot copy
// between the two files, so that the tests reach the copy by read and write.
#include <sys/types.h>

#include <cerrno>
#include <cstddef>

extern "C" {
ssize_t sendfile(int, int, void*, size_t) {
    errno = EINVAL;
    return -1;
}
ssize_t sendfile64(int, int, void*, size_t) {
    errno = EINVAL;
    return -1;
}
}
