#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace quillmarsh::test {
namespace {

// Own session 2 (alice, Active); alice also on 4 (Active) and 5
// (Disconnected); bob on 3 (Active); 6 is an empty Connected console.
const char* kServer = R"({
  "own_session": 2,
  "sessions": [
    {"id": 2, "state": "Active", "user": "alice", "domain": "CORP"},
    {"id": 3, "state": "Active", "user": "bob", "domain": "CORP", "send_error": 5,
     "disconnect_error": 5, "logoff_error": 5},
    {"id": 4, "state": "Active", "user": "alice", "domain": "CORP"},
    {"id": 5, "state": "Disconnected", "user": "alice", "domain": "CORP"},
    {"id": 6, "state": "Connected"},
    {"id": 7, "state": "Listen"}
  ]})";

std::vector<std::string> CallsNamed(const RunResult& run, const std::string& name) {
  std::vector<std::string> entries;
  for (const std::string& line : run.journal) {
    if (line.find("\"call\":\"" + name + "\"") != std::string::npos) entries.push_back(line);
  }
  return entries;
}

std::string Send(int session, const std::string& message, int bytes, long long timeout, bool ok) {
  return R"({"call":"WTSSendMessageW","server":0,"session":)" + std::to_string(session) +
         R"(,"title":"Terminal Server","title_bytes":30,"message":")" + message +
         R"(","message_bytes":)" + std::to_string(bytes) + R"(,"style":0,"timeout":)" +
         std::to_string(timeout) + R"(,"wait":false,)" +
         (ok ? R"("response":32001,"ok":true)" : R"("ok":false)") + (ok ? "}" : R"(,"error":5})");
}

TEST(Message, AllSessionsInTheFourStatesWithTheTimeoutSetBefore) {
  RunResult run = RunQuillmarsh(kServer, {"/MESSAGE", "*all", " hi ", "/MESSAGETIMEOUT", "-1",
                                          "/MESSAGE", "ALICE", "h\xc3\xa9"});
  EXPECT_EQ(run.out, Lines({"Message OK: CORP\\alice", "Message Not OK: CORP\\bob",
                            "Access is denied [5]", "Message OK: CORP\\alice", "Message OK: \\",
                            "Message OK: CORP\\alice", "Message OK: CORP\\alice"}));
  EXPECT_EQ(CallsNamed(run, "WTSSendMessageW"),
            (std::vector<std::string>{Send(2, "hi", 4, 0, true), Send(3, "hi", 4, 0, false),
                                      Send(4, "hi", 4, 0, true), Send(6, "hi", 4, 0, true),
                                      Send(2, "h\xc3\xa9", 4, 4294967295LL, true),
                                      Send(4, "h\xc3\xa9", 4, 4294967295LL, true)}));
  EXPECT_EQ(run.exit_code, 2);
}

TEST(Message, NotMeKeepsTheOwnSessionOutAndTheLastSendDecides) {
  RunResult run =
      RunQuillmarsh(kServer, {"/NOTME", "/MESSAGETIMEOUT", "abc", "/MESSAGE", "corp\\Bob", "x"});
  EXPECT_EQ(run.out, Lines({"Message Not OK: CORP\\bob", "Access is denied [5]"}));
  EXPECT_EQ(run.exit_code, 1);
  RunResult all = RunQuillmarsh(kServer, {"/NOTME", "/MESSAGE", "*ALL", "x"});
  EXPECT_EQ(all.out, Lines({"Message Not OK: CORP\\bob", "Access is denied [5]",
                            "Message OK: CORP\\alice", "Message OK: \\"}));
  EXPECT_EQ(all.exit_code, 2);
}

TEST(Message, OperandsAreTakenByPositionAndMissingOnesStop) {
  RunResult run = RunQuillmarsh(kServer, {"/MESSAGE", "bob", "/NOTME", "/MESSAGE", "bob"});
  const std::vector<std::string> sends = CallsNamed(run, "WTSSendMessageW");
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_NE(sends[0].find(R"("message":"/NOTME")"), std::string::npos);
  EXPECT_EQ(run.out, Lines({"Message Not OK: CORP\\bob", "Access is denied [5]"}) + BannerBlock() +
                         Lines({"Wrong or unknown command. Type /?  for information"}));
  EXPECT_EQ(run.exit_code, 1);
}

TEST(Message, AOneMebibyteTextIsSentWhole) {
  const std::string text(1 << 20, 'm');
  RunResult run = RunQuillmarsh(R"({"sessions": [{"id": 1, "state": "Active", "user": "a"}]})",
                                {"/STATUS", text, "/MESSAGE", "*ALL", text});
  EXPECT_EQ(run.out, Lines({"Message OK: \\a"}));
  const std::vector<std::string> sends = CallsNamed(run, "WTSSendMessageW");
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_NE(sends[0].find(R"("message_bytes":2097152)"), std::string::npos);
}

TEST(Message, DisconnectedUserGetsNothing) {
  RunResult run =
      RunQuillmarsh(R"({"sessions": [{"id": 5, "state": "Disconnected", "user": "carol"}]})",
                    {"/MESSAGE", "carol", "x"});
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(CallsNamed(run, "WTSSendMessageW").empty());
}

TEST(SessionAction, OwnSessionByStarMeOnly) {
  RunResult run = RunQuillmarsh(kServer, {"/DISCONNECT", " *me ", "/LOGOFF", "*me"});
  EXPECT_EQ(run.out, Lines({"Disconnect me OK", "Logoff me OK"}));
  EXPECT_EQ(
      run.journal,
      (std::vector<std::string>{
          R"({"call":"WTSDisconnectSession","server":0,"session":4294967295,"wait":false,"ok":true})",
          R"({"call":"WTSLogoffSession","server":0,"session":4294967295,"wait":false,"ok":true})"}));
  EXPECT_EQ(run.exit_code, 2);

  RunResult capitals = RunQuillmarsh(kServer, {"/DISCONNECT", "*ME"});
  EXPECT_EQ(capitals.out, "");
  EXPECT_EQ(capitals.calls.front(), "WTSEnumerateSessionsA");
  EXPECT_EQ(capitals.exit_code, 0);
}

TEST(SessionAction, RefusedOwnSessionIsReported) {
  RunResult run =
      RunQuillmarsh(R"({"current_session": {"logoff_error": 7022}})", {"/LOGOFF", "*me"});
  EXPECT_EQ(run.out, Lines({"Logoff me Not OK", "The specified session cannot be found [7022]"}));
  EXPECT_EQ(run.exit_code, 1);
}

TEST(SessionAction, DisconnectPassesOverDisconnectedSessionsAndLogoffActsOnThem) {
  // The program's own session 2 is never acted on, /NOTME or not.
  RunResult disconnect = RunQuillmarsh(kServer, {"/DISCONNECT", "alice"});
  EXPECT_EQ(disconnect.out, Lines({"Disconnect OK: CORP\\alice"}));
  EXPECT_EQ(
      CallsNamed(disconnect, "WTSDisconnectSession"),
      std::vector<std::string>{
          R"({"call":"WTSDisconnectSession","server":0,"session":4,"wait":false,"ok":true})"});
  RunResult logoff = RunQuillmarsh(kServer, {"/LOGOFF", "Alice"});
  EXPECT_EQ(logoff.out, Lines({"Logoff OK: CORP\\alice", "Logoff OK: CORP\\alice"}));
  EXPECT_EQ(CallsNamed(logoff, "WTSLogoffSession").size(), 2u);
}

TEST(SessionAction, AllSessionsAndTheLastActionDecides) {
  RunResult run = RunQuillmarsh(kServer, {"/LOGOFF", "*all"});
  EXPECT_EQ(run.out, Lines({"Logoff Not OK: CORP\\bob", "Access is denied [5]",
                            "Logoff OK: CORP\\alice", "Logoff OK: CORP\\alice", "Logoff OK: \\"}));
  EXPECT_EQ(run.exit_code, 2);
  RunResult bob_last = RunQuillmarsh(kServer, {"/DISCONNECT", "alice", "/DISCONNECT", "bob"});
  EXPECT_EQ(bob_last.exit_code, 1);
}

TEST(SessionAction, EmptyBlankOrMissingOperands) {
  EXPECT_EQ(RunQuillmarsh(kServer, {"/LISTALLSESSIONS", "/DISCONNECT", "  "}).exit_code, 2);
  RunResult empty = RunQuillmarsh(kServer, {"/LOGOFF", ""});
  EXPECT_EQ(empty.out, "");
  RunResult missing = RunQuillmarsh(kServer, {"/STATUS", "bob", "/LOGOFF"});
  EXPECT_EQ(missing.out,
            BannerBlock() + Lines({"Wrong or unknown command. Type /?  for information"}));
  EXPECT_EQ(missing.exit_code, 4);
  // A command word in the operand position is the operand.
  RunResult word = RunQuillmarsh(kServer, {"/DISCONNECT", "/NOTME", "/LISTACTIVESESSIONS"});
  EXPECT_NE(word.out.find("CORP\\alice"), std::string::npos);
}

TEST(SessionAction, EnumerationFailureChangesNothing) {
  RunResult run = RunQuillmarsh(R"({"enumerate_error": 1722})",
                                {"/STATUS", "x", "/LOGOFF", "*ALL", "/DISCONNECT", "*ALL"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exit_code, 0);
}

// With the own session unknown, only the process id keeps the program
// from ending itself, even when the session's user owns it: here, and on
// another name of this machine, a server that gives this machine's NetBIOS
// name for itself.
TEST(EndProcess, NeverEndsTheProgramsOwnProcess) {
  const std::string pid = std::to_string(::getpid());
  const std::string server =
      R"({"computer_name": "TS01", "servers": {"10.1.2.30": {"computer_name": "ts01"}},
          "sessions": [{"id": 4, "state": "Active", "user": "bob", "domain": "CORP",
          "processes": [{"pid": )" +
      pid + R"(, "image": "quillmarsh.exe", "owner": "CORP\\bob"},
                        {"pid": 77, "image": "quillmarsh.exe", "owner": "CORP\\bob"}]}]})";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"/ENDPROCESS", "quillmarsh.exe", "bob"},
        std::vector<std::string>{"/SERVER", "10.1.2.30", "/ENDPROCESS", "quillmarsh.exe", "bob"}}) {
    const RunResult run = RunQuillmarsh(server, arguments);
    EXPECT_EQ(CallsNamed(run, "WTSTerminateProcess"),
              std::vector<std::string>{
                  R"({"call":"WTSTerminateProcess","server":0,"pid":77,"exit_code":1,"ok":true})"})
        << arguments[0];
  }
}

}  // namespace
}  // namespace quillmarsh::test
