// zol-host as a process with the simulation module and no stack running.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    ProcessTest()
    {
        char dir[] = "/tmp/zol-host-process-XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        // Nothing outside the temporary directory, and a quick start without a stack.
        setenv("ZOL_IMSD_SOCKET", (dir_ + "/imsd.sock").c_str(), 1);
        setenv("ZOL_IMSD_CONNECT_TIMEOUT_MS", "100", 1);
    }
    ~ProcessTest() override { (void)!system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs zol-host on the scenario; returns its exit status, output in out_.
    int run(const std::string &scenario, std::vector<std::string> extra = {"--log", "none"})
    {
        script_ = dir_ + "/test.zs";
        std::ofstream(script_) << scenario;
        const std::string out_file = dir_ + "/out.txt";
        std::vector<std::string> args = {ZOL_HOST_BINARY, "--script", script_, "--imsd-control",
                                         dir_ + "/ctl", "--timeout-ms", "5000"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (std::string &a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        std::ostringstream text;
        text << std::ifstream(out_file).rdbuf();
        out_ = text.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string dir_;
    std::string script_;
    std::string out_;
};

TEST_F(ProcessTest, Failures)
{
    struct Case {
        const char *scenario;
        std::string fail_line;
    };
    const Case cases[] = {
        {"request 1\nexpect error SUCCESS\n",
         ":2: RIL_REQUEST_GET_SIM_STATUS #1 completed with Request Not Supported"},
        {"stack status\n", ":1: cannot reach zol-imsd at "},
        {"request 1\nexpect calls\n", ":2: expected expect calls <n>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(run(c.scenario), 1) << out_;
        EXPECT_NE(out_.find("FAIL " + script_ + c.fail_line), std::string::npos) << out_;
        EXPECT_TRUE(out_.ends_with("FAIL\n")) << out_;
    }
}

TEST_F(ProcessTest, RadioLogGoesToTheFileWithDebugLines)
{
    const std::string log = dir_ + "/radio.log";
    ASSERT_EQ(run("request 1\nexpect error 6\n", {"--log", log}), 0) << out_;
    std::ostringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_NE(text.str().find("radio D IMS-ref-zol: "), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("\n\n"), std::string::npos) << "one trailing newline is dropped";
}

TEST_F(ProcessTest, BadOptionsAndMissingModule)
{
    EXPECT_EQ(run("", {"--timeout-ms", "0"}), 2) << out_;
    // A short usage and where the rest is, not the whole manual.
    EXPECT_NE(out_.find("see zol-host --help"), std::string::npos) << out_;
    EXPECT_EQ(out_.find("SOAK OPTIONS"), std::string::npos) << out_;
    EXPECT_EQ(run("", {"--clock", "sundial"}), 2) << out_;
    EXPECT_EQ(run("request 1\n", {"--module", dir_ + "/missing.so"}), 2) << out_;
    EXPECT_EQ(run("", {"--version"}), 0) << out_;
    EXPECT_EQ(out_, "zol-host " ZOL_SIM_VERSION "\n");
}

TEST_F(ProcessTest, NoStackIsSaidOnceWithItsPath)
{
    EXPECT_EQ(run("calls\nexpect error 2\ncalls\nexpect error 2\n"), 0) << out_;
    const std::string said = "no IMS stack at " + dir_ + "/imsd.sock";
    const size_t first = out_.find(said);
    ASSERT_NE(first, std::string::npos) << out_;
    EXPECT_EQ(out_.find(said, first + 1), std::string::npos) << "said once:\n" << out_;
}

} // namespace
