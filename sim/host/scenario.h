// Scenarios: plain-text files of steps that drive the module through the host
// and the simulated stack, and check what comes back. The parser and the checks
// need no module; the runner needs a Host.
#ifndef ZOL_HOST_SCENARIO_H
#define ZOL_HOST_SCENARIO_H

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host.h"
#include "imsd_control.h"
#include "output.h"
#include "requests.h"
#include "words.h"

namespace zol_host {

enum class StepKind {
    Echo,              // echo <text>
    Stack,             // stack <control command>
    Send,              // a request command (calls, dial, request, ...): send, wait
    ExpectError,       // expect error <name|number>
    ExpectCalls,       // expect calls <n>
    ExpectCall,        // expect call <index> key=value ...
    ExpectData,        // expect ints <v>... | expect strings <s>...
    ExpectNoData,      // expect no-data
    ExpectSmsResponse, // expect sms-response key=value ...
    ExpectForwardings, // expect forwardings <n>
    ExpectForwarding,  // expect forwarding <position> key=value ...
    ExpectUnsol,       // expect unsol <number|name> [count=<n>] [within=<ms>] [data checks]
    ExpectNoUnsol,     // expect no-unsol <number|name> [for=<ms>]
    ClearUnsol,        // clear unsol
    Sleep,             // sleep <ms>
    PrintCalls,        // print calls
};

enum class CallKey { State, Number, Toa, Mpty, Mt, Voice, CallType, Attr, Text };

struct CallCheck {
    CallKey key = CallKey::State;
    int value = 0;                   // numeric and flag keys
    std::optional<std::string> text; // number and text; unquoted null means a null text
};

// key=value of the records other than calls: a forwarding record, an SMS
// response, a supplementary service notification.
struct FieldCheck {
    std::string key;
    bool is_text = false;
    int value = 0;
    std::optional<std::string> text; // unquoted null means a null text
};

// What data a completion or an unsolicited response must carry.
struct DataCheck {
    std::optional<std::vector<int>> ints;
    std::optional<std::vector<std::optional<std::string>>> strings;
    std::vector<FieldCheck> supp; // a notification's keys

    bool empty() const { return !ints && !strings && supp.empty(); }
};

struct Step {
    StepKind kind = StepKind::Echo;
    int line = 0;
    std::string source;                      // the line, trimmed
    std::string text;                        // echo text, stack command
    int number = 0;                          // request, error, count, index, position, unsol, ms
    int count = 1;                           // expect unsol
    std::optional<int> within_ms;            // expect unsol, expect no-unsol
    std::vector<CallCheck> checks;           // expect call
    const RequestCommand *command = nullptr; // send
    std::vector<Word> args;                  // send: built into data when it runs
    std::vector<FieldCheck> fields;          // expect sms-response, expect forwarding
    DataCheck data;                          // expect ints/strings, expect unsol
};

struct Scenario {
    std::string file;
    std::vector<Step> steps;
    std::vector<std::string> errors; // "<file>:<line>: <reason>"
};

// One line: a step, nothing for a blank or comment line, or the reason it is wrong.
struct ParsedLine {
    std::optional<Step> step;
    std::string error;
};
ParsedLine parse_line(std::string_view line, int line_number);
Scenario parse_scenario(std::string_view text, const std::string &file);

// Each check answers why it fails, or nothing when it holds. `last` is the last
// completion of any request, `list` the last completion of a call-list request.
std::optional<std::string> check_error(const std::optional<Completion> &last, int expected);
std::optional<std::string> check_call_count(const std::optional<Completion> &list, int expected);
std::optional<std::string> check_call(const std::optional<Completion> &list, int index,
                                      const std::vector<CallCheck> &checks);
// Data of the last completion.
std::optional<std::string> check_data(const std::optional<Completion> &last, const DataCheck &data);
std::optional<std::string> check_no_data(const std::optional<Completion> &last);
std::optional<std::string> check_sms_response(const std::optional<Completion> &last,
                                              const std::vector<FieldCheck> &fields);
std::optional<std::string> check_forward_count(const std::optional<Completion> &last, int expected);
std::optional<std::string> check_forward(const std::optional<Completion> &last, int position,
                                         const std::vector<FieldCheck> &fields);
// Data of one unsolicited response; the reason names only the mismatch.
std::optional<std::string> check_unsol_data(const Unsolicited &unsol, const DataCheck &data);

struct RunOptions {
    std::chrono::milliseconds timeout{10000};
    // Forwards one control command to the stack.
    std::function<ControlReply(const std::string &command)> stack;
};

class ScenarioRunner {
public:
    ScenarioRunner(Host &host, Output &out, RunOptions options);
    // Runs until the first failing step; prints each step, FAIL lines and the verdict.
    bool run(const Scenario &scenario);

private:
    std::optional<std::string> execute(const Step &step);
    std::optional<std::string> send_and_wait(const Step &step);
    std::optional<std::string> expect_unsol(const Step &step);

    Host &host_;
    Output &out_;
    RunOptions options_;
    std::optional<Completion> last_;
    std::optional<Completion> last_list_;
    size_t unsol_mark_ = 0;
};

} // namespace zol_host

#endif
