// Soak: the real daemon on ten million random bytes of line noise, with
// marker frames between them, once as a mouse user (-M, framebuffer) and
// once in console mode with the key-injection device (-c -V).
//
// The markers are the only joystick frames on the line: the noise never
// holds the joystick header 0x4A, five non-header bytes before each marker
// finish whatever frame the noise started (the reader is then waiting for a
// header again), and nothing in the noise can delay a joystick frame the way
// a Pause prefix delays keyboard frames. Marker n is J 0x0000, then button
// 8 + n % 8 down, then J 0x0000 again; those buttons send key codes that no
// other key map line uses, so the key device must show exactly
// marker_count presses and releases of them, in turn.
//
// Checked: every marker's event arrives, in order; the daemon's anonymous
// resident memory (heap, stack) after the last million bytes is what it was
// after the first (the whole resident set is printed: it also holds the
// framebuffer pages the cursor has visited so far); the
// daemon still runs at the end and stops with status 1 on SIGTERM. Printed:
// bytes, markers, resident memory, output sizes, time.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <signal.h>
#include <string>
#include <vector>

#include "harness.h"
#include "keyboard/key_map.h"
#include "serial/frame_payload.h"

namespace {

constexpr uint64_t noise_seed = 20240611;
constexpr long long noise_bytes = 10'000'000;
constexpr long long bytes_between_markers = 10'000;
constexpr long long bytes_between_samples = 1'000'000;
constexpr int filler_bytes = 5;
constexpr int first_marker_button = 8;
constexpr int marker_buttons = 8;
constexpr int first_marker_code = 0xF0; // checked unused: marker_codes_unused()
// The daemon's heap and stack (anonymous memory) must not grow at all once
// its stdio buffers are made; a page or two of slack for the kernel's
// accounting. The whole resident set also counts the framebuffer pages the
// cursor has visited, which grow up to the screen's size.
constexpr long long allowed_anonymous_growth_kb = 8;

struct resident_memory {
	long long total_kb = -1;     // VmRSS
	long long anonymous_kb = -1; // RssAnon
};

long long status_field_kb(const std::string &status, const std::string &name)
{
	std::size_t at = status.find(name + ":");
	return at == std::string::npos ? -1 : std::stoll(status.substr(at + name.size() + 1));
}

resident_memory resident_memory_of(int pid)
{
	std::string status = e2e::read_text("/proc/" + std::to_string(pid) + "/status");
	return {status_field_kb(status, "VmRSS"), status_field_kb(status, "RssAnon")};
}

bool still_running(int pid)
{
	std::string stat = e2e::read_text("/proc/" + std::to_string(pid) + "/stat");
	std::size_t close = stat.rfind(')');
	return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool is_marker_code(uint32_t code)
{
	return code >= first_marker_code && code < first_marker_code + marker_buttons;
}

// Whether no line of the map but the markers' own sends a marker's key code,
// as the daemon's loader reads the map.
bool marker_codes_unused(const std::string &map)
{
	FILE *stream = fmemopen(const_cast<char *>(map.data()), map.size(), "r");
	if (!stream)
		return false;
	reset_key_map();
	(void)load_key_map_stream(stream);
	(void)fclose(stream);
	bool unused = true;
	for (const auto &combination : key_tables.key_table)
		for (const auto &code : combination)
			for (const key_entry &slot : code)
				if (slot.name && is_marker_code(slot.value & 0xFF))
					unused = false;
	for (std::size_t button = 0; button < first_marker_button; ++button)
		if (is_marker_code(static_cast<uint32_t>(key_tables.joystick_keys[button]) & 0xFF))
			unused = false;
	reset_key_map();
	return unused;
}

std::string soak_key_map()
{
	std::string map = e2e::read_text(PS2LINK_SAMPLE_KEY_MAP);
	for (int k = 0; k < marker_buttons; ++k) {
		char line[64];
		snprintf(line, sizeof line, "J %d Marker%d %X\n", first_marker_button + k, k,
			 first_marker_code + k);
		map += line;
	}
	return map;
}

// The marker key events the device got, as key code and down flag pairs,
// in order. Text events are " code down \n", raw ones two bytes.
std::vector<std::pair<int, int>> marker_events(const std::string &text, bool raw)
{
	std::vector<std::pair<int, int>> events;
	auto keep = [&](int code, int down) {
		if (is_marker_code(static_cast<uint32_t>(code)))
			events.emplace_back(code, down);
	};
	if (raw) {
		for (std::size_t k = 0; k + 1 < text.size(); k += 2)
			keep(static_cast<uint8_t>(text[k]), static_cast<uint8_t>(text[k + 1]));
		return events;
	}
	int code = 0, down = 0, used = 0;
	for (const char *p = text.c_str(); sscanf(p, " %d %d %n", &code, &down, &used) == 2; p += used)
		keep(code, down);
	return events;
}

struct soak_figures {
	long long markers = 0;
	resident_memory first; // after the first million bytes
	resident_memory last;  // after the last
	double seconds = 0;
};

// Sends the noise and the markers; the daemon must have taken every byte
// after each million.
soak_figures feed_noise(e2e::daemon_run &run)
{
	soak_figures figures;
	std::mt19937_64 noise(noise_seed);
	// Uniform over the 255 byte values other than the joystick header.
	std::uniform_int_distribution<int> byte_value(0, 254);
	std::vector<uint8_t> block;
	auto started = std::chrono::steady_clock::now();
	for (long long sent = 0; sent < noise_bytes;) {
		block.clear();
		for (long long k = 0; k < bytes_between_markers; ++k) {
			int value = byte_value(noise);
			block.push_back(static_cast<uint8_t>(value >= joystick_header ? value + 1 : value));
		}
		block.insert(block.end(), filler_bytes, 0x00);
		const uint8_t high = static_cast<uint8_t>(
			1U << (first_marker_button + figures.markers % marker_buttons - 8));
		for (uint8_t marker_high : {uint8_t{0}, high, uint8_t{0}}) {
			const serial_frame marker = make_joystick_frame(static_cast<uint16_t>(marker_high << 8));
			block.insert(block.end(), marker.begin(), marker.end());
		}
		run.send(block);
		++figures.markers;
		sent += bytes_between_markers;
		if (sent % bytes_between_samples == 0) {
			EXPECT_TRUE(run.wait_drained(60000)) << "the daemon stopped reading";
			(void)run.read_adapter_pending(); // light commands: keep the line open
			figures.last = resident_memory_of(run.daemon_pid);
			if (figures.first.total_kb < 0)
				figures.first = figures.last;
		}
	}
	figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
				  .count();
	return figures;
}

void soak(const std::vector<std::string> &arguments, bool raw_keys)
{
	e2e::daemon_config config;
	config.arguments = arguments;
	config.key_map = soak_key_map();
	ASSERT_TRUE(marker_codes_unused(e2e::read_text(PS2LINK_SAMPLE_KEY_MAP)))
		<< "the sample key map sends one of the markers' key codes";
	config.console_key_map = config.key_map;
	config.kbd = raw_keys ? e2e::device_kind::absent : e2e::device_kind::file;
	config.keypipe = raw_keys ? e2e::device_kind::file : e2e::device_kind::absent;
	config.ts = e2e::device_kind::file;
	config.screen = e2e::fake_screen{};
	e2e::daemon_run run(config);
	ASSERT_TRUE(run.start()) << run.stdout_text() << run.stderr_text();

	soak_figures figures = feed_noise(run);
	ASSERT_TRUE(run.wait_drained(60000));
	EXPECT_TRUE(still_running(run.daemon_pid)) << "the daemon ended on the noise";
	const long long taken = run.bytes_read();
	e2e::exit_result result = run.stop(SIGTERM);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);

	// Raw key events are left to stdio's buffer: only the exit flushes them.
	const std::string device = raw_keys ? "keypipe" : "kbd";
	const std::string keys = run.device_text(device);
	std::vector<std::pair<int, int>> events = marker_events(keys, raw_keys);
	EXPECT_EQ(events.size(), static_cast<std::size_t>(2 * figures.markers));
	for (std::size_t k = 0; k < events.size(); ++k) {
		const int code = first_marker_code + static_cast<int>((k / 2) % marker_buttons);
		const int down = k % 2 == 0 ? 1 : 0;
		if (events[k] != std::make_pair(code, down)) {
			ADD_FAILURE() << "marker event " << k << ": key " << events[k].first << " "
				      << events[k].second << ", expected key " << code << " " << down;
			break;
		}
	}
	EXPECT_GT(figures.first.anonymous_kb, 0);
	EXPECT_LE(figures.last.anonymous_kb - figures.first.anonymous_kb, allowed_anonymous_growth_kb)
		<< "heap or stack grew from the first million bytes to the last";

	std::string options;
	for (const std::string &word : arguments)
		options += word + " ";
	printf("soak %s: seed %llu, %lld noise bytes (%lld taken in all), %lld markers, "
	       "%zu marker events\n",
	       options.c_str(), static_cast<unsigned long long>(noise_seed), noise_bytes, taken,
	       figures.markers, events.size());
	printf("  VmRSS %lld kB after the first million bytes, %lld kB after the last; "
	       "of them anonymous %lld kB and %lld kB\n",
	       figures.first.total_kb, figures.last.total_kb, figures.first.anonymous_kb,
	       figures.last.anonymous_kb);
	printf("  %.1f s (%.0f bytes/s); %s %zu bytes, ts %zu bytes, stdout %zu bytes\n",
	       figures.seconds, static_cast<double>(noise_bytes) / figures.seconds, device.c_str(),
	       keys.size(), run.device_text("ts").size(), run.stdout_text().size());
}

TEST(soak, mouse_and_framebuffer)
{
	E2E_REQUIRE_NAMESPACES();
	soak({"-M"}, false);
}

TEST(soak, console_and_keypipe)
{
	E2E_REQUIRE_NAMESPACES();
	soak({"-c", "-V"}, true);
}

} // namespace
