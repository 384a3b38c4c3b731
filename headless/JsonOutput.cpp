#include "headless/JsonOutput.h"

#include "platform/discovery/ComNames.h"
#include "platform/tty/ExitPath.h"
#include "serial/SettingsTables.h"

#include <ostream>

namespace headless {

void printJson(const Json& document, std::ostream& out)
{
    out << document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n" << std::flush;
    if (!out) // the reader went away
        platform::endOnBrokenPipe();
}

Json commandJson(const char* command, const std::string& portName)
{
    const auto device = platform::deviceForPortName(portName);
    return Json { { "command", command }, { "port", portName },
        { "device", textOrNull(device.value_or("")) } };
}

Json settingsJson(const platform::LineSettings& settings)
{
    const auto parity = settings_tables::parityText(settings.parity);
    const auto stop = settings.stopBits == 1 ? std::optional<std::string>("1.5")
                                             : settings_tables::stopBitsText(settings.stopBits);
    return Json { { "baud", settings.baudRate }, { "data_bits", settings.byteSize },
        { "parity", textOrNull(parity.value_or("")) }, { "stop_bits", textOrNull(stop.value_or("")) } };
}

Json textOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

} // namespace headless
