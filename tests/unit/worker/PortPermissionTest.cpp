#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "support/TempDir.h"
#include "worker/PortPermission.h"

namespace rszorvik::worker {
namespace {

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What the user is told to do, by what the system says about the device and the user.
TEST(PortPermission, AdviceFitsTheUsersStanding) {
    struct Case {
        const char* what;
        PortAccess access;
        const char* group;  // the group the advice must name
        bool join;          // the advice gives the command that adds the user to it
    };
    for (const Case& c : {Case{"unknown group", {}, "dialout", true},
                          Case{"not a member", {"uucp", false, false}, "uucp", true},
                          Case{"member, new login needed", {"uucp", true, false}, "uucp", false},
                          Case{"member in this login too", {"uucp", true, true}, "uucp", true}}) {
        SCOPED_TRACE(c.what);
        const std::string advice = permissionAdvice("/dev/ttyUSB3", c.access);
        EXPECT_TRUE(mentions(advice, "/dev/ttyUSB3")) << advice;
        EXPECT_TRUE(mentions(advice, c.group)) << advice;
        EXPECT_EQ(mentions(advice, std::string("usermod -aG ") + c.group + " $USER"), c.join) << advice;
    }
}

// A group other than root that the test may give a file: any group when running as root, else its own.
std::optional<gid_t> assignableGroup() {
    if (geteuid() == 0) {
        if (const group* dialout = getgrnam("dialout")) return dialout->gr_gid;
        return std::nullopt;
    }
    return getegid() != 0 ? std::optional<gid_t>(getegid()) : std::nullopt;
}

TEST(PortPermission, NamesTheGroupOnlyWhereJoiningItHelps) {
    const auto gid = assignableGroup();
    if (!gid) GTEST_SKIP() << "no group other than root to give a file";
    const std::string name = getgrgid(*gid)->gr_name;
    struct Case {
        const char* what;
        mode_t mode;
        bool named;
    };
    test::TempDir dir;
    for (const Case& c : {Case{"group may read and write", 0660, true},
                          Case{"group may only read", 0640, false}, Case{"owner only", 0600, false}}) {
        SCOPED_TRACE(c.what);
        const auto device = dir / "ttyFake";
        test::writeFile(device, "");
        ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), *gid), 0);
        ASSERT_EQ(chmod(device.c_str(), c.mode), 0);
        const PortAccess access = inspectPortAccess(device.string());
        EXPECT_EQ(access.group, c.named ? std::optional<std::string>(name) : std::nullopt);
    }
    EXPECT_EQ(inspectPortAccess((dir / "missing").string()).group, std::nullopt);
}

}  // namespace
}  // namespace rszorvik::worker
