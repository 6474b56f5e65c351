// Behaviour every implementation of the settings file shares. Included by the native unit
// tests (the INI file) and by the Windows tests (the private profile calls), each of which
// defines make_conformance_profile.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace fwload::test {

// A profile on a fresh settings file holding `initial` (empty: no file).
std::unique_ptr<Profile> make_conformance_profile(std::string_view initial);

TEST(ProfileConformance, AbsentKeysGiveTheDefaultCutToTheBuffer) {
  auto p = make_conformance_profile("");
  EXPECT_EQ(p->read("Option", "SW", "OFF", 32), "OFF");
  EXPECT_EQ(p->read("Open File", "Directory", "None", 3), "No");
  EXPECT_EQ(p->read("Open File", "Directory", "None", 1), "");
}

TEST(ProfileConformance, WrittenValuesReadBackAndOverwrite) {
  auto p = make_conformance_profile("");
  ASSERT_TRUE(p->write("Open File", "Directory", "C:\\fw\\new"));
  ASSERT_TRUE(p->write("Open File", "File Name", "a.mot"));
  ASSERT_TRUE(p->write("Write File", "File Name", "b.sum"));
  EXPECT_EQ(p->read("Open File", "Directory", "None", 256), "C:\\fw\\new");
  EXPECT_EQ(p->read("Open File", "File Name", "None", 256), "a.mot");
  EXPECT_EQ(p->read("Write File", "File Name", "None", 256), "b.sum");
  ASSERT_TRUE(p->write("Open File", "File Name", "c.sum"));
  EXPECT_EQ(p->read("Open File", "File Name", "None", 256), "c.sum");
  EXPECT_EQ(p->read("Open File", "Directory", "None", 256), "C:\\fw\\new");
}

TEST(ProfileConformance, SectionAndKeyNamesMatchInAnyCase) {
  auto p = make_conformance_profile("[option]\r\nsw=ON\r\n");
  EXPECT_EQ(p->read("Option", "SW", "OFF", 32), "ON");
  ASSERT_TRUE(p->write("OPTION", "Sw", "OFF"));
  EXPECT_EQ(p->read("option", "sw", "x", 32), "OFF");
}

TEST(ProfileConformance, ValuesAreTrimmedAndUnquoted) {
  auto p = make_conformance_profile(
      "[Option]\r\n  SW  =   ON   \r\nTemp=\"ON\"\r\n[Open File]\r\nDirectory=\r\n");
  EXPECT_EQ(p->read("Option", "SW", "OFF", 32), "ON");
  EXPECT_EQ(p->read("Option", "Temp", "OFF", 32), "ON");
  EXPECT_EQ(p->read("Open File", "Directory", "None", 256), "");
}

TEST(ProfileConformance, OverlongValuesAreCutToTheBuffer) {
  const std::string value(5000, 'x');
  auto p = make_conformance_profile("[Option]\r\nSW=" + value + "\r\n");
  EXPECT_EQ(p->read("Option", "SW", "OFF", 32), std::string(31, 'x'));
  ASSERT_TRUE(p->write("Open File", "Directory", std::string(300, 'd')));
  EXPECT_EQ(p->read("Open File", "Directory", "None", 256), std::string(255, 'd'));
}

TEST(ProfileConformance, KeysOfOtherSectionsAreNotSeen) {
  auto p = make_conformance_profile("[Write File]\r\nDirectory=D:\\out\r\n");
  EXPECT_EQ(p->read("Open File", "Directory", "None", 256), "None");
}

}  // namespace fwload::test
