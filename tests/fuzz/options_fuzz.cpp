// Any command line: the input split at NUL bytes into the words after the
// program name. The parser must stay inside argv, and the speed conversion
// must agree with a plain reference: strtoll held to the 32-bit range.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/settings.h"
#include "daemon/options.h"

namespace {

int32_t reference_speed(const char *text)
{
	long long value = strtoll(text, nullptr, 10); // saturates on overflow
	if (value > INT32_MAX)
		return INT32_MAX;
	if (value < INT32_MIN)
		return INT32_MIN;
	return static_cast<int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// The parser sets only the settings (the whole reset_daemon_state()
	// would empty 8192 key slots per input for nothing).
	reset_settings();
	// One heap block of exactly the words and their terminators.
	char *words = static_cast<char *>(malloc(size + 1));
	if (!words)
		abort();
	memcpy(words, data, size);
	words[size] = '\0';
	std::vector<char *> argv{const_cast<char *>("ps2linkd"), words};
	for (std::size_t k = 0; k < size; ++k)
		if (words[k] == '\0')
			argv.push_back(words + k + 1);
	int argc = static_cast<int>(argv.size());
	argv.push_back(nullptr);

	option_outcome outcome = parse_options(argc, argv.data());
	if (outcome == option_outcome::run) {
		// Whatever the words set must still be readable.
		volatile std::size_t lengths = strlen(active_settings.serial_device) + strlen(chosen_key_map());
		(void)lengths;
	}
	for (int k = 1; k < argc; ++k) {
		if (convert_speed(argv[static_cast<std::size_t>(k)]) !=
		    reference_speed(argv[static_cast<std::size_t>(k)]))
			abort(); // the speed argument is read unlike atol with clamping
	}
	free(words);
	return 0;
}
