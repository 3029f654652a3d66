// Shared ground for the key map tests.
//
// The loader fills process-wide tables. These helpers put the daemon's whole
// state back as at start-up and load key maps from text or from the sample
// map shipped in etc/, so that a case sees nothing an earlier one left.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "daemon_state.h"
#include "keyboard/key_map.h"

// The sample key map shipped in etc/, found from this file's own place in
// the source tree.
inline std::string sample_key_map_path()
{
	std::string here = __FILE__;
	return here.substr(0, here.rfind("/tests/unit/")) + "/etc/ser_code_vantor.ini";
}

// Loads key map text through the real line reader, as from a file, into
// empty key tables.
inline void load_key_map_text(const std::string &text, key_map_observer observer = nullptr,
			      void *context = nullptr)
{
	clear_key_tables();
	if (text.empty())
		return; // an empty memory stream cannot be opened; nothing to read anyway
	FILE *stream = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
	ASSERT_NE(stream, nullptr);
	EXPECT_EQ(load_key_map_stream(stream, observer, context), 0);
	fclose(stream);
}
