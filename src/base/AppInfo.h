#pragma once

// Fixed facts about the product, shown in its window and messages.
namespace AppInfo {
inline constexpr char ProductTitle[] = "Tonvaler Software";
inline constexpr char HomePage[] = "https://www.kestrova.example/tonvaler/";
inline constexpr char ContactPage[] = "https://www.kestrova.example/contact/";
inline constexpr char SupportEmail[] = "support@kestrova.example";
// The one version number, set by the build.
inline constexpr char Version[] = TONVALER_VERSION;
}  // namespace AppInfo
