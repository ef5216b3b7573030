#pragma once

#include <string_view>

namespace Platform {
class UserDefaults;
}

namespace Plovander::Settings {

inline constexpr std::string_view allowRemoteControl = "TessaloyAllowRemoteControl";
inline constexpr std::string_view listenForPairedDevices = "TessaloyListenForPairedDevices";
inline constexpr std::string_view availabilityChosen = "TessaloyAvailabilityChosen";
inline constexpr std::string_view stayAwakeForPairedDevices = "TessaloyStayAwakeForPairedDevices";
inline constexpr std::string_view openRouterPort = "TessaloyOpenRouterPort";
inline constexpr std::string_view listenPort = "TessaloyListenPort";
inline constexpr std::string_view loginItemChosen = "TessaloyLoginItemChosen";
inline constexpr std::string_view startAtLoginWanted = "TessaloyStartAtLoginWanted";
inline constexpr std::string_view loginAgentProgram = "TessaloyLoginAgentProgram";
inline constexpr std::string_view connect = "TessaloyConnect";
inline constexpr std::string_view relay = "TessaloyRelay";
inline constexpr std::string_view trace = "TessaloyTrace";
inline constexpr std::string_view afterUpdate = "TessaloyAfterUpdate";
inline constexpr std::string_view showsDiagnostics = "ShowsDiagnostics";

// A Boolean setting as the application reads it: "TessaloyConnect", "TessaloyOpenRouterPort" and
// "TessaloyStayAwakeForPairedDevices" count as on when absent, every other one as off.
bool isOn(const Platform::UserDefaults& defaults, std::string_view key);

} // namespace Plovander::Settings
