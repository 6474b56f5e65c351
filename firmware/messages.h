// Captions and texts of the firmware flows' message boxes, exactly as the program shows them.
#pragma once

#include <string_view>

namespace fwload::msg {

inline constexpr std::string_view kLineReadError = "LineRead Error";
inline constexpr std::string_view kFirstCharNotS = "First Char is not 'S'!";
inline constexpr std::string_view kLengthCodeBad = "Length Code is bad value!";
inline constexpr std::string_view kAddressTypeBad = "Address Type Code is bad value!";

inline constexpr std::string_view kFileOpenError = "File_Open Error";
inline constexpr std::string_view kAttributeNotMotSum = "File Attribute is not .mot or .sum!!";
inline constexpr std::string_view kFileOpenFailed = "File Open failed!!";
inline constexpr std::string_view kShortOfMemory = "Short of Memory!!";
inline constexpr std::string_view kTempFileOpenFailed = "Temp File Open failed!!";

inline constexpr std::string_view kSumCalcError = "SumCalc Error";
inline constexpr std::string_view kValidCodeFourBlock = "Valid code exists in SUM address!!";
inline constexpr std::string_view kValidCodeSingleBlock = "Valid code exists in SUM address !!";

inline constexpr std::string_view kFileWriteError = "File_Write Error";
inline constexpr std::string_view kFileWriteFailed = "File write failed!!";

inline constexpr std::string_view kSumFilesFilter = "Sum Files(*.sum)";
inline constexpr std::string_view kMotFilesFilter = "Sform Files(*.mot)";

}  // namespace fwload::msg
