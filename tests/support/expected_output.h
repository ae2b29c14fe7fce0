// Console texts of the tool, written out independently of its sources.
#pragma once

#include <string>

namespace hlv::test {

inline const std::string kBanner = "Vostrel Tessarin Firmware Update Tool [Version 1.8.0]\n \n";
inline const std::string kUsage =
    "\nUsage:\n"
    "  hlvflashupdate [-a <DEVICE_NAME>]\n"
    "  hlvflashupdate -s [-a <DEVICE_NAME>]\n"
    "\n"
    "Options:\n"
    "    -s         Silent mode. Update all compatible devices.\n"
    "    -a <NAME>  Name of the adapter to be updated (device display name in the Device "
    "Manager).\n"
    "    -h         Show this message.\n"
    " \n";
inline const std::string kNotice =
    "*** Important notice *** \n"
    "Update utility is only supported for certain systems. \n"
    "Please refer README file for supported systems.\n \n";
inline const std::string kPrompt = "Proceed with update? (y/n): ";
inline const std::string kNoDatabase =
    "[!] Couldn't load data from XML file. Check update files. \n";
inline const std::string kPressAnyKey = "\nPress any key... \n";
inline const std::string kAnotherInstance = "[!] Another instance of the tool is running. \n";

}  // namespace hlv::test
