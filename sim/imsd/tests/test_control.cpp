// Control commands against the model, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control.h"

using namespace zol::imsd;
using Lines = std::vector<std::string>;

namespace {

class FakeLink : public Link {
public:
    LinkStatus status() const override { return {connected, 3, 2, 1}; }
    std::string send_frame(const Frame &frame) override { return record(encode_frame(frame)); }
    std::string send_raw(std::span<const uint8_t> bytes) override
    {
        return record(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    bool connected = true;
    std::string failure;
    std::vector<std::vector<uint8_t>> packets;

private:
    std::string record(std::vector<uint8_t> bytes)
    {
        if (failure.empty()) {
            packets.push_back(std::move(bytes));
        }
        return failure;
    }
};

// A stack holding call 1 to begin with.
struct Stack {
    Model model;
    FakeLink link;

    Stack() { run("call add 1 111"); }
    Lines run(const std::string &line)
    {
        const std::optional<Reply> reply = run_command(line, model, link);
        return reply ? reply->lines : Lines{"(no reply)"};
    }
    Lines calls()
    {
        Lines lines = run("calls");
        lines.pop_back();
        return lines;
    }
};

const std::string kCall1 =
    "call 1 number=111 state=active dir=mo type=voice video=0xffffffff mpty=0 attr=0x0 text=";

} // namespace

TEST(Control, GoodCommandsChangeTheCallTable)
{
    const struct {
        std::string command;
        Lines calls; // after the command
    } cases[] = {
        {"call add 2 555 state=held dir=mt type=video",
         {kCall1, "call 2 number=555 state=held dir=mt type=video video=0x3 mpty=0 attr=0x0 "
                  "text="}},
        // An explicit video direction wins over the type's default, in either order.
        {"call add 2 555 type=video video=2 state=3",
         {kCall1, "call 2 number=555 state=incoming dir=mo type=video video=0x2 mpty=0 "
                  "attr=0x0 text="}},
        {"call add 2 555 video=2 type=video",
         {kCall1, "call 2 number=555 state=active dir=mo type=video video=0x2 mpty=0 attr=0x0 "
                  "text="}},
        {"call add 0xff 5 mpty=1 attr=0x10 text=hello state=waiting", // table stays in id order
         {kCall1, "call 255 number=5 state=waiting dir=mo type=voice video=0xffffffff mpty=1 "
                  "attr=0x10 text=hello"}},
        {"call set 1 state=held number=999 attr=4294967295",
         {"call 1 number=999 state=held dir=mo type=voice video=0xffffffff mpty=0 "
          "attr=0xffffffff text="}},
        {"call set 1 type=video",
         {"call 1 number=111 state=active dir=mo type=video video=0x3 mpty=0 attr=0x0 text="}},
        {"call remove 1", {}},
        {"\t calls  ", {kCall1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Stack s;
        EXPECT_EQ(s.run(c.command).back().substr(0, 2), "ok");
        EXPECT_EQ(s.calls(), c.calls);
    }
}

TEST(Control, BadCommandsAreRefusedAndChangeNothing)
{
    const std::string n133(133, '1');
    const struct {
        std::string command;
        std::string reply; // the final line, or "error" when only the kind matters
    } cases[] = {
        {"call add 0 5", "error bad call id '0'"},
        {"call add 256 5", "error bad call id '256'"},
        {"call add 1 5", "error call 1 exists"},
        {"call add 2 state=held", "error"}, // the number is missing
        {"call add 2 5 state=bogus", "error bad state 'bogus'"},
        {"call add 2 5 held", "error expected key=value, got 'held'"},
        {"call add 2 5 number=6", "error unknown key 'number'"},
        {"call add 2 " + n133, "error number longer than 132 characters"},
        {"call add 2 5 text=" + std::string(50, 'x'), "error text longer than 49 characters"},
        {"call set 7 state=held", "error unknown call 7"},
        {"call set 1 state=held dir=sideways", "error"}, // nothing applied, not even the state
        {"launch missiles", "error unknown command 'launch missiles' (try help)"},
        {"inject 65536", "error bad message id '65536'"},
        {"inject 17 0g", "error bad hex payload"},
        {"inject-raw 0x00", "error bad hex bytes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Stack s;
        const Lines reply = s.run(c.command);
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(c.reply == "error" ? reply[0].substr(0, 6) : reply[0],
                  c.reply == "error" ? "error " : c.reply);
        EXPECT_EQ(s.calls(), Lines{kCall1});
        EXPECT_TRUE(s.link.packets.empty());
    }
}

TEST(Control, InjectSendsFramesAndRawBytesWhenItCan)
{
    const struct {
        std::string command;
        std::vector<uint8_t> packet;
    } cases[] = {
        {"inject 30005 01 00 0000", {0, 0, 0, 0, 0, 0x75, 0x35, 0, 0, 0, 4, 0x01, 0, 0, 0}},
        {"inject 0x7545", {0, 0, 0, 0, 0, 0x75, 0x45, 0, 0, 0, 0}},
        {"inject-raw 01 fF", {0x01, 0xFF}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Stack s;
        EXPECT_EQ(s.run(c.command), Lines{"ok sent " + std::to_string(c.packet.size()) + " bytes"});
        EXPECT_EQ(s.link.packets, std::vector<std::vector<uint8_t>>{c.packet});
        s.link.connected = false;
        EXPECT_EQ(s.run(c.command), Lines{"error not connected"});
        s.link.connected = true;
        s.link.failure = "boom";
        EXPECT_EQ(s.run(c.command), Lines{"error send failed: boom"});
        EXPECT_EQ(s.link.packets.size(), 1u);
    }
}

TEST(Control, StatusHelpQuitAndNonCommands)
{
    Stack s;
    EXPECT_EQ(s.run("status"), Lines{"ok connected=yes received=3 sent=2 connections=1 calls=1"});
    const Lines help = s.run("help");
    EXPECT_EQ(help.back(), "ok");
    EXPECT_EQ(help.size(), command_help().size() + 1) << "a line for each command";
    const std::optional<Reply> quit = run_command("quit", s.model, s.link);
    ASSERT_TRUE(quit.has_value());
    EXPECT_TRUE(quit->quit);
    EXPECT_EQ(quit->lines, Lines{"ok bye"});
    for (const char *line : {"", "   ", "# a comment", "  #call clear"}) {
        EXPECT_FALSE(run_command(line, s.model, s.link).has_value()) << "'" << line << "'";
    }
    EXPECT_EQ(s.calls(), Lines{kCall1});
}
