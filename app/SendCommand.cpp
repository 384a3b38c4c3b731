// --send TEXT: one exchange as "TX Start" makes it: open and configure, send, wait, take the reply
// (at most 128 bytes; more are discarded), close.
#include "HeadlessCommands.h"

#include "HexText.h"

#include <chrono>
#include <ostream>
#include <thread>

namespace headless {

namespace {

constexpr int kDefaultWaitMs = 500; // the window's tick

// The bytes as text: up to the first zero byte, as the window shows them, with control bytes
// written as escapes so that the line stays one line.
std::string printable(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
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
            text += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
        else
            text += c;
    }
    return text;
}

std::string bytesOf(const std::string& given, bool hex)
{
    return hex ? parseHexBytes(given).value_or(std::string()) : given;
}

std::string openFailure(const serial::LineRequest& request, const std::string& message)
{
    const platform::LineSettings asked { serial::lineSpeed(request.baudRate), request.parity,
        request.byteSize, request.stopBits };
    if (message == serial::kSettingsError)
        return message + " " + portLabel(request.portName) + ": the line settings were refused ("
            + describeSettings(asked) + ")";
    return message + " " + portLabel(request.portName) + ": could not be opened (comtest --check "
        + request.portName + " tells why)";
}

// What was read; a discarded flood counts as nothing received.
std::string replyOf(const serial::Reception& reception, const uint8_t* buffer)
{
    if (reception.outcome != serial::Reception::Outcome::Read)
        return {};
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(reception.count));
}

void printReply(const serial::Reception& reception, const std::string& reply, std::ostream& out)
{
    if (reception.outcome == serial::Reception::Outcome::Discarded)
        out << "discarded " << reception.count << " bytes (more than " << serial::kReceiveCap
            << " were waiting)\n";
    out << "received " << reply.size() << " bytes\n";
    out << "text: " << printable(reply) << "\n";
    out << "hex: " << hexText(reply) << "\n";
}

} // namespace

int sendAndCompare(
    const CommandLine& line, const serial::LineRequest& request, std::ostream& out, std::ostream& err)
{
    platform::PortHandle port = platform::kInvalidPort;
    std::string failure;
    if (!serial::openAndConfigure(port, request, [&failure](const char* message) { failure = message; })) {
        err << "comtest: " << openFailure(request, failure) << "\n";
        return kPortFailed;
    }
    const std::string sent = bytesOf(line.sendText, line.hex);
    serial::sendBytes(port, sent);
    const int waitMs = line.waitMs.value_or(kDefaultWaitMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    uint8_t buffer[serial::kReceiveCap + 1] = {};
    const serial::Reception reception = serial::receiveInto(port, buffer);
    platform::closePort(port);

    out << portLabel(request.portName) << ": sent " << sent.size() << " bytes, waited " << waitMs << " ms\n";
    const std::string reply = replyOf(reception, buffer);
    printReply(reception, reply, out);
    if (!line.expectText)
        return kYes;
    const std::string expected = bytesOf(*line.expectText, line.hex);
    if (reply == expected) {
        out << "reply matches\n";
        return kYes;
    }
    out << "reply does not match: expected " << expected.size() << " bytes: " << hexText(expected) << "\n";
    return kNo;
}

} // namespace headless
