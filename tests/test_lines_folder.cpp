// The lines folder is trusted only when it is the user's own, and only lines a
// living rig serves, leading to the user's own terminals, are listed and opened.
#include "link/enumeration.h"
#include "link/interface_port.h"
#include "link/posix_serial.h"
#include "rig/rig_d2xx.h"

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A runtime folder of the test's own as XDG_RUNTIME_DIR; a pty of the user's own
// to publish.
class LinesFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
        pty = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(pty, 0);
        ASSERT_EQ(grantpt(pty), 0);
        ASSERT_EQ(unlockpt(pty), 0);
        ptyPath = ptsname(pty);
    }
    void TearDown() override
    {
        ::close(pty);
        unsetenv("XDG_RUNTIME_DIR");
    }

    std::string base() const { return runtime.path().toStdString(); }
    std::string lines() const { return base() + "/vantrell/lines"; }

    std::vector<std::string> listed(std::string* note = nullptr)
    {
        std::vector<InterfaceEntry> rows;
        ListVirtualLines(rows, note);
        std::vector<std::string> names;
        for (const InterfaceEntry& e : rows)
            names.push_back(e.text);
        return names;
    }

    // Opening the path as the CLI and the window do: the handle, and why not.
    int open(const std::string& path, std::string& why)
    {
        PosixSerial serial;
        const int fd = serial.open(path.c_str());
        why = serial.refusal();
        if (fd >= 0)
            serial.close(fd);
        return fd;
    }

    QTemporaryDir runtime;
    int pty = -1;
    std::string ptyPath;
};

} // namespace

TEST_F(LinesFolderTest, AFolderThatIsNotTheUsersAloneIsRefusedWithWhatToRemove)
{
    struct Case {
        const char* what;
        std::function<void(const std::string& own)> plant;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"open to others", [](const std::string& own) { mkdir(own.c_str(), 0777), chmod(own.c_str(), 0777); },
         "is open to other users (mode 0777)"},
        {"a link to a folder elsewhere",
         [this](const std::string& own) { symlink((base() + "/elsewhere").c_str(), own.c_str()); },
         "is not a directory but a link or a file"},
        {"a file", [](const std::string& own) { std::ofstream(own) << "x"; }, "is not a directory but a link or a file"},
    };
    QDir().mkpath(QString::fromStdString(base() + "/elsewhere/lines"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string own = base() + "/vantrell";
        c.plant(own);
        std::string note;
        EXPECT_TRUE(listed(&note).empty());
        EXPECT_NE(note.find(own + " " + c.said), std::string::npos) << note;
        EXPECT_NE(note.find("remove it"), std::string::npos) << note;
        LinePublication rig;
        std::string error;
        EXPECT_FALSE(rig.publish("rig", ptyPath, error));
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        QDir(QString::fromStdString(own)).removeRecursively();
        ::unlink(own.c_str());
    }
    // Another user's folder: only root can make one here.
    if (getuid() == 0) {
        const std::string own = base() + "/vantrell";
        mkdir(own.c_str(), 0700);
        ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
        std::string note;
        EXPECT_TRUE(listed(&note).empty());
        EXPECT_NE(note.find("belongs to another user (uid 65534)"), std::string::npos) << note;
        ::rmdir(own.c_str());
    }
    // Made here: the user's alone.
    LinePublication rig;
    std::string error;
    ASSERT_TRUE(rig.publish("rig", ptyPath, error)) << error;
    struct stat st {};
    ASSERT_EQ(lstat((base() + "/vantrell").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(lstat(lines().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(listed(), std::vector<std::string>{"rig"});
}

TEST_F(LinesFolderTest, OnlyServedEntriesLeadingToTheUsersTerminalsAreListedAndOpened)
{
    LinePublication rig;
    std::string error, why;
    ASSERT_TRUE(rig.publish("rig", ptyPath, error)) << error;
    EXPECT_GE(open(rig.path(), why), 0) << why;

    // Entries no rig serves: one planted, one left by a rig that is gone.
    ASSERT_EQ(symlink(ptyPath.c_str(), (lines() + "/planted").c_str()), 0);
    {
        LinePublication gone;
        ASSERT_TRUE(gone.publish("gone", ptyPath, error)) << error;
        // As a rig killed outright leaves it: the entry stays, the lock goes.
        ASSERT_EQ(::rename((lines() + "/gone").c_str(), (lines() + "/kept").c_str()), 0);
    }
    ASSERT_EQ(::rename((lines() + "/kept").c_str(), (lines() + "/gone").c_str()), 0);
    EXPECT_EQ(listed(), std::vector<std::string>{"rig"});
    for (const char* name : {"planted", "gone"}) {
        EXPECT_LT(open(lines() + "/" + name, why), 0);
        EXPECT_NE(why.find("no rig serves this line"), std::string::npos) << why;
    }

    // Served entries that lead to something else than a terminal: nothing is
    // written to it, nothing is set on it.
    const std::string file = base() + "/notes.txt", fifo = base() + "/fifo";
    std::ofstream(file) << "mine";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& target : {file, fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(target);
        LinePublication odd;
        ASSERT_TRUE(odd.publish("odd", target, error)) << error;
        EXPECT_LT(open(odd.path(), why), 0);
        // /dev/null is root's: to an ordinary user it is refused as not theirs.
        const bool rootsDevice = target == "/dev/null" && getuid() != 0;
        EXPECT_NE(why.find(rootsDevice ? "not yours (owner uid 0); refused" : "does not lead to a terminal device; refused"),
                  std::string::npos)
            << why;
    }
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "mine");

    // The rig withdraws its own entry only; one put in its place since stays.
    ASSERT_EQ(::unlink(rig.path().c_str()), 0);
    ASSERT_EQ(symlink(file.c_str(), rig.path().c_str()), 0);
    const std::string path = rig.path();
    rig.withdraw();
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
}

TEST_F(LinesFolderTest, NamesArePlainAndOneNameIsServedOnce)
{
    LinePublication a, b;
    std::string error;
    const std::vector<std::string> names = {"", "../../x", "a/b", ".hidden", std::string(65, 'n'), "bell\a"};
    for (const std::string& name : names) {
        EXPECT_FALSE(a.publish(name, ptyPath, error)) << name;
        EXPECT_NE(error.find("plain name"), std::string::npos) << error;
    }
    ASSERT_TRUE(a.publish("truss", ptyPath, error)) << error;
    EXPECT_FALSE(b.publish("truss", ptyPath, error));
    EXPECT_NE(error.find("another rig serves a line named \"truss\""), std::string::npos) << error;
    a.withdraw();
    EXPECT_TRUE(b.publish("truss", ptyPath, error)) << error;
}

TEST_F(LinesFolderTest, APathLongerThanThePortHoldsIsNotCutToAnother)
{
    PosixSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port(serial, d2xx);
    const std::string longPath = "/dev/" + std::string(255, 'x');
    port.ChooseInterface({"long", longPath, 0});
    EXPECT_EQ(port.devicePath()[0], '\0');
    EXPECT_EQ(port.PortOpen(), 0);
}
