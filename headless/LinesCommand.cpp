// --lines: what the modem lines read, after --rts and --dtr set the outputs.
#include "headless/Commands.h"

#include "headless/JsonOutput.h"
#include "platform/tty/ModemLines.h"

#include <ostream>

namespace headless {

namespace {

const char* onOff(bool on)
{
    return on ? "on" : "off";
}

// Sets the outputs asked for; false when the driver refused one.
bool setOutputs(platform::PortHandle port, const CommandLine& line)
{
    return (!line.rts || platform::setRequestToSend(port, *line.rts))
        && (!line.dtr || platform::setDataTerminalReady(port, *line.dtr));
}

} // namespace

int readLines(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err)
{
    platform::PortHandle port = platform::kInvalidPort;
    std::string reason;
    if (!openForCommand(port, request, err, &reason))
        return portFailed(line, "lines", request.portName, reason, out);
    const bool set = setOutputs(port, line);
    const auto inputs = platform::readModemInputs(port);
    const auto outputs = platform::readModemOutputs(port);
    platform::closePort(port);
    if (!set || !inputs || !outputs) {
        reason = "modem lines not offered by its driver";
        err << "comtest: " << portLabel(request.portName) << ": " << reason << "\n";
        return portFailed(line, "lines", request.portName, reason, out);
    }
    if (line.json) {
        Json json = commandJson("lines", request.portName);
        json["rts"] = outputs->requestToSend;
        json["dtr"] = outputs->dataTerminalReady;
        json["cts"] = inputs->clearToSend;
        json["dsr"] = inputs->dataSetReady;
        json["dcd"] = inputs->carrierDetect;
        json["ri"] = inputs->ringIndicator;
        json["set"] = { { "rts", line.rts ? Json(*line.rts) : Json(nullptr) },
            { "dtr", line.dtr ? Json(*line.dtr) : Json(nullptr) } };
        printJson(json, out);
        return kYes;
    }
    out << portLabel(request.portName) << "\n";
    out << "RTS " << onOff(outputs->requestToSend) << ", DTR " << onOff(outputs->dataTerminalReady)
        << ((line.rts || line.dtr) ? " (as set here; a setting holds only while the port is open)" : "")
        << "\n";
    out << "CTS " << onOff(inputs->clearToSend) << ", DSR " << onOff(inputs->dataSetReady) << ", DCD "
        << onOff(inputs->carrierDetect) << ", RI " << onOff(inputs->ringIndicator) << "\n";
    return kYes;
}

} // namespace headless
