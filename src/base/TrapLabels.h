#pragma once

// The location labels that name each trapped procedure in the error report. The trailing blank
// separates the label from "at line " in the report.
namespace TrapLabel {
inline constexpr char Form_Load[] = "in Grisanto2021/08/31.Form1.Form_Load ";
inline constexpr char PushButton1_Click[] = "in Grisanto2021/08/31.Form1.PushButton1_Click ";
inline constexpr char PushButton2_Click[] = "in Grisanto2021/08/31.Form1.PushButton2_Click ";
inline constexpr char PushButton3_Click[] = "in Grisanto2021/08/31.Form1.PushButton3_Click ";
inline constexpr char PushButton4_Click[] = "in Grisanto2021/08/31.Form1.PushButton4_Click ";
inline constexpr char PushButton5_Click[] = "in Grisanto2021/08/31.Form1.PushButton5_Click ";
inline constexpr char PushButton6_Click[] = "in Grisanto2021/08/31.Form1.PushButton6_Click ";
inline constexpr char PushButton7_Click[] = "in Grisanto2021/08/31.Form1.PushButton7_Click ";
inline constexpr char GetSubDirectories2016[] =
    "in BrannikTitle2021/08/31.AddFolder.GetSubDirectories2016 ";
}  // namespace TrapLabel
