#pragma once

#include <array>

// Ids of the main window's controls, as in its dialog template.
inline constexpr int IDCANCEL = 2;

inline constexpr int IDC_TILT1_LOWER = 1000;
inline constexpr int IDC_TILT1_UPPER = 1001;
inline constexpr int IDC_TILT2_LOWER = 1002;
inline constexpr int IDC_TILT2_UPPER = 1003;
inline constexpr int IDC_TILT3_LOWER = 1004;
inline constexpr int IDC_TILT3_UPPER = 1005;
inline constexpr int IDC_TEMP1_LOWER = 1012;
inline constexpr int IDC_TEMP1_UPPER = 1013;
inline constexpr int IDC_TEMP2_LOWER = 1019;
inline constexpr int IDC_TEMP2_UPPER = 1020;
inline constexpr int IDC_LIGHT = 1026;

inline constexpr int IDC_TEMP1_TEXT = 1016;
inline constexpr int IDC_TEMP1_UPPER_TEXT = 1017;
inline constexpr int IDC_TEMP1_LOWER_TEXT = 1018;
inline constexpr int IDC_TEMP2_TEXT = 1023;
inline constexpr int IDC_TEMP2_UPPER_TEXT = 1024;
inline constexpr int IDC_TEMP2_LOWER_TEXT = 1025;

inline constexpr int IDC_SERVER_IP = 1030;
inline constexpr int IDC_SERVER_PORT = 1031;
inline constexpr int IDC_STATUS = 1034;
inline constexpr int IDC_WRITE = 1036;
inline constexpr int IDC_PORT = 1037;
inline constexpr int IDC_POWER = 1046;
inline constexpr int IDC_KEY1 = 1047;   // .. 1062 for "Ключ 16"
inline constexpr int IDC_KEY16 = 1062;
inline constexpr int IDC_REMEMBER_KEY = 1063;
inline constexpr int IDC_LAST_KEY = 1064;
inline constexpr int IDC_CLEAR_KEYS = 1065;
inline constexpr int IDC_SEND_SMS = 1066;
inline constexpr int IDC_SERVER_PHONE = 1067;
inline constexpr int IDC_SMS_PHONE = 1068;

// The "Сирена" and "GPRS" boxes by sensor bit (tilt 1 .. 3, temperature 1, 2,
// discrete sensors 1 .. 3, power, light).
inline constexpr std::array<int, 8> kSirenBoxes = {1006, 1008, 1010, 1014, 1021, 1027, 1038, 1042};
inline constexpr std::array<int, 10> kGprsBoxes = {1007, 1009, 1011, 1015, 1022, 1028, 1039, 1043, IDC_POWER, 1029};
// "Полярность" boxes and state pictures of discrete sensors 1 .. 3.
inline constexpr std::array<int, 3> kPolarityBoxes = {1032, 1040, 1044};
inline constexpr std::array<int, 3> kStatePictures = {1033, 1041, 1045};

// Slider ranges (trackbar positions, minimum at the top) and the scales the
// register values use: tilt and light value = 4096 - position, temperature
// value = 1440 - position.
inline constexpr int kTiltMin = 996;
inline constexpr int kTiltMax = 2296;
inline constexpr int kTemperatureMin = 0;
inline constexpr int kTemperatureMax = 1440;
inline constexpr int kLightMin = 0;
inline constexpr int kLightMax = 4096;
inline constexpr int kTiltScale = 4096;
inline constexpr int kTemperatureScale = 1440;
