// --send TEXT: one exchange as "TX Start" makes it: open and configure, send, wait, take the reply
// (at most 128 bytes; more are discarded), close.
#include "headless/Commands.h"

#include "headless/JsonOutput.h"

#include "platform/tty/SerialPort.h"
#include "serial/HexText.h"

#include <chrono>
#include <sstream>

namespace headless {

namespace {

constexpr int kDefaultWaitMs = 500; // the window's tick

// The bytes as text: up to the first zero byte, as the window shows them, with control bytes
// written as escapes so that the line stays one line.
std::string printable(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0)
            break;
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (c == '\\')
            text += "\\\\";
        else if (byte < 0x20 || byte == 0x7F)
            text += "\\x" + hexByte(byte);
        else
            text += c;
    }
    return text;
}

std::string bytesOf(const std::string& given, bool hex)
{
    return hex ? parseHexBytes(given).value_or(std::string()) : given;
}

struct Reply {
    serial::Reception reception { serial::Reception::Outcome::Read, 0 };
    std::string bytes; // what was read; nothing after a flood
    platform::LineState end = platform::LineState::Up;
};

void takeWaiting(platform::PortHandle port, Reply& reply)
{
    uint8_t chunk[serial::kReceiveCap + 1];
    const int got = platform::readBytes(port, chunk, static_cast<int>(sizeof chunk));
    reply.reception.count += got;
    if (reply.reception.count > serial::kReceiveCap) {
        reply.reception.outcome = serial::Reception::Outcome::Discarded;
        reply.bytes.clear();
    } else {
        reply.bytes.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
    }
}

// Takes what arrives during the wait, so that a reply which came before a hang-up is not lost with
// the driver's queue. More than the receive cap in all is a flood, counted as nothing received.
Reply collectReply(platform::PortHandle port, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    Reply reply;
    for (;;) {
        takeWaiting(port, reply);
        reply.end = platform::lineState(port);
        if (reply.end != platform::LineState::Up || !platform::waitForInput(port, deadline))
            break;
    }
    if (reply.end == platform::LineState::Up) // a hang-up ends the wait early, without input
        reply.end = platform::lineState(port);
    return reply;
}

} // namespace

namespace {

// The reply's facts for --json: the bytes as hex, and as text only through the library's
// replacement of what is not UTF-8.
void describeReply(const Reply& reply, const std::string& sent, int waitMs, Json& json)
{
    json["sent_hex"] = hexText(sent);
    json["wait_ms"] = waitMs;
    const bool discarded = reply.reception.outcome == serial::Reception::Outcome::Discarded;
    json["discarded"] = discarded ? Json(reply.reception.count) : Json(nullptr);
    json["received"] = reply.bytes.size();
    json["reply_hex"] = hexText(reply.bytes);
    json["reply_text"] = reply.bytes;
}

} // namespace

int sendAndCompare(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& stdOut, std::ostream& err)
{
    platform::PortHandle port = platform::kInvalidPort;
    std::string reason;
    if (!openForCommand(port, request, err, &reason))
        return portFailed(line, "send", request.portName, reason, stdOut);
    const std::string sent = bytesOf(line.sendText, line.hex);
    serial::sendBytes(port, sent);
    const int waitMs = line.waitMs.value_or(kDefaultWaitMs);
    const Reply reply = collectReply(port, std::chrono::milliseconds(waitMs));
    platform::closePort(port);

    std::ostringstream discard;
    std::ostream& out = line.json ? discard : stdOut;
    Json json = commandJson("send", request.portName);
    describeReply(reply, sent, waitMs, json);
    out << portLabel(request.portName) << ": sent " << sent.size() << " bytes, waited " << waitMs << " ms\n";
    if (reply.reception.outcome == serial::Reception::Outcome::Discarded)
        out << "discarded " << reply.reception.count << " bytes (more than " << serial::kReceiveCap
            << " were waiting)\n";
    out << "received " << reply.bytes.size() << " bytes\n";
    out << "text: " << printable(reply.bytes) << "\n";
    out << "hex: " << hexText(reply.bytes) << "\n";
    int status = kYes;
    json["expected_hex"] = nullptr;
    json["matches"] = nullptr;
    if (line.expectText) {
        const std::string expected = bytesOf(*line.expectText, line.hex);
        status = reply.bytes == expected ? kYes : kNo;
        json["expected_hex"] = hexText(expected);
        json["matches"] = status == kYes;
        if (status == kYes)
            out << "reply matches\n";
        else
            out << "reply does not match: expected " << expected.size() << " bytes: " << hexText(expected)
                << "\n";
    }
    json["ended"] = textOrNull(lineStateText(reply.end));
    // The answer is no answer when the port went away during it, whatever had come by then.
    if (reply.end != platform::LineState::Up) {
        out << lineStateText(reply.end) << "\n";
        status = kPortFailed;
    }
    if (line.json)
        printJson(json, stdOut);
    return status;
}

} // namespace headless
