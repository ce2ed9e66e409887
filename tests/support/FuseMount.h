#pragma once
// A FAT image mounted as a folder by fusefat, for tests of the folder route over a real mount
// (kernel FAT mounts are not available to the tests). Unmounted when it goes out of scope.
//
//   FuseMount mount(image, folder);
//   if (!mount.mounted()) GTEST_SKIP() << mount.whyNot();
//   ... use folder as a recorder disk ...
//   ASSERT_TRUE(mount.unmount());   // flushes everything to the image
//
// fusefat leaves the image's second FAT entry altered, which mtools' sanity check rejects;
// set MTOOLS_SKIP_CHECK=1 (allowMtoolsOnFuseImages) before reading such an image with mtools.

#include <sys/types.h>

#include <string>

namespace korvo::test {

class FuseMount {
public:
    FuseMount(const std::string& image, const std::string& folder);
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    bool mounted() const { return mounted_; }
    // Why the image could not be mounted: a sentence for a skipped test.
    const std::string& whyNot() const { return whyNot_; }
    // Unmounts and waits for fusefat to end; true when the image is complete and free.
    bool unmount();

private:
    std::string folder_;
    pid_t server_ = -1;
    bool mounted_ = false;
    std::string whyNot_;
};

// Whether /proc/self/mountinfo lists the folder as a mount point.
bool isMountPoint(const std::string& folder);

// Lets mtools read images that fusefat has mounted (see above).
void allowMtoolsOnFuseImages();

}  // namespace korvo::test
