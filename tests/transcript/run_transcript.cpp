// Runs transcripts through the daemon's own code in this process: the real
// option parser, key map loader, calibration reader, frame reader and
// handlers, with the output streams pointed at memory. No root, no devices,
// a few milliseconds a file.
//
//   run_transcript SOURCE_ROOT FILE...           compare; status 1 on a difference
//   run_transcript --update SOURCE_ROOT FILE...  rewrite the expected sections
//   run_transcript --plan SOURCE_ROOT FILE...    print what a replay elsewhere needs
//
// With --plan a FILE ending in ".steps" holds named steps of adapter input
// for the board's own runs: "step NAME" lines, each followed by simulator
// script lines.
//
// Start-up is the daemon's in-process one (daemon/in_process.h): options,
// key map file, calibration file, streams, and with -M the mouse-enable
// command to the adapter before anything is read.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/in_process.h"
#include "daemon/options.h"
#include "daemon_state.h"
#include "sim_script.h"
#include "text_file.h"
#include "transcript.h"

namespace {

// A file of the given text in the temporary directory; empty on failure.
std::string temp_file(const std::string &text)
{
	const char *dir = getenv("TMPDIR");
	std::string path = std::string(dir && *dir ? dir : "/tmp") + "/ps2-transcript-XXXXXX";
	int fd = mkstemp(path.data());
	if (fd < 0)
		return "";
	bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
	close(fd);
	if (!whole) {
		unlink(path.c_str());
		return "";
	}
	return path;
}

// Standard output, where the frame loop reports bad frames, into a file for
// the length of a run. Plain descriptors: this must also run on the target.
struct stdout_capture {
	std::string path;
	int saved = -1;
};

bool start_capture(stdout_capture &capture)
{
	capture.path = temp_file("");
	if (capture.path.empty())
		return false;
	fflush(stdout);
	int fd = open(capture.path.c_str(), O_WRONLY | O_TRUNC);
	capture.saved = dup(1);
	bool ok = fd >= 0 && capture.saved >= 0 && dup2(fd, 1) == 1;
	if (fd >= 0)
		close(fd);
	return ok;
}

std::string end_capture(stdout_capture &capture)
{
	fflush(stdout);
	if (capture.saved >= 0) {
		dup2(capture.saved, 1);
		close(capture.saved);
	}
	std::string text;
	(void)read_whole_file(capture.path.c_str(), text); // nothing printed: an empty file
	unlink(capture.path.c_str());
	return text;
}

struct memory_device {
	FILE *stream = nullptr;
	char *data = nullptr;
	size_t size = 0;
};

// Starts the daemon on the memory devices with the transcript's options,
// key map and calibration file.
bool set_up(const transcript &t, std::vector<std::string> &arguments,
	    std::array<memory_device, transcript_device_count> &devices, std::string &error)
{
	reset_daemon_state();
	std::vector<char *> argv;
	for (std::string &word : arguments)
		argv.push_back(word.data());
	argv.push_back(nullptr);
	for (memory_device &device : devices)
		device.stream = open_memstream(&device.data, &device.size);
	auto stream_of = [&devices](transcript_device d) {
		return devices[static_cast<std::size_t>(d)].stream;
	};
	in_process_start start;
	start.argc = static_cast<int>(arguments.size());
	start.argv = argv.data();
	start.given.devices.kbd = stream_of(transcript_device::kbd);
	start.given.devices.keypipe = stream_of(transcript_device::keypipe);
	start.given.devices.ts = stream_of(transcript_device::ts);
	start.given.adapter = stream_of(transcript_device::adapter);
	std::string map = temp_file(t.key_map);
	std::string calibration = t.pointercal ? temp_file(*t.pointercal) : "";
	start.given.key_map = map.c_str();
	if (!calibration.empty())
		start.given.calibration = calibration.c_str();
	in_process_outcome outcome = in_process_outcome::start_failed;
	if (t.pointercal && calibration.empty())
		error = "cannot write the calibration file";
	else if (!map.empty())
		outcome = start_in_process(start);
	for (const std::string &path : {map, calibration})
		if (!path.empty())
			unlink(path.c_str());
	if (outcome == in_process_outcome::options_refused)
		error = "the options are refused";
	else if (outcome == in_process_outcome::start_failed && error.empty())
		error = "cannot write or load the key map";
	return outcome == in_process_outcome::started;
}

// Feeds the input as the frame loop would and records what each device got.
bool run(const transcript &t, transcript_result &result, std::string &error)
{
	std::vector<std::string> arguments = {default_program_name};
	arguments.insert(arguments.end(), t.options.begin(), t.options.end());
	std::array<memory_device, transcript_device_count> devices;
	bool started = set_up(t, arguments, devices, error);

	stdout_capture capture;
	bool captured = started && start_capture(capture);
	auto mark = [&devices, &result]() {
		for (std::size_t d = 0; d < transcript_device_count; ++d) {
			if (devices[d].stream)
				fflush(devices[d].stream);
			result.breaks[d].push_back(devices[d].size);
		}
	};
	if (started) {
		mark();
		for (const transcript_input &in : t.input) {
			for (uint8_t byte : in.bytes)
				(void)handle_serial_byte(byte);
			mark();
		}
		// The run ends as the daemon's does: whatever is still held is let go.
		release_held_input();
		mark();
	}
	std::string printed = captured ? end_capture(capture) : "";

	reset_daemon_state(); // no stream of ours is left behind in the daemon's state
	for (std::size_t d = 0; d < transcript_device_count; ++d) {
		if (devices[d].stream)
			fclose(devices[d].stream);
		if (devices[d].data)
			result.received[d].assign(devices[d].data, devices[d].size);
		free(devices[d].data);
	}
	if (!started)
		return false;
	const auto out = static_cast<std::size_t>(transcript_device::stdout_text);
	result.received[out] = printed;
	result.breaks[out].clear(); // text: laid out by its own lines
	if (!captured) {
		error = "cannot capture standard output";
		return false;
	}
	return true;
}

// "LABEL HEX" on a line of its own; the bytes in lower-case hexadecimal.
void print_hex_line(const std::string &label, const std::string &bytes)
{
	printf("%s", label.c_str());
	if (!bytes.empty())
		printf(" ");
	for (unsigned char byte : bytes)
		printf("%02x", byte);
	printf("\n");
}

// A replay on another machine (the emulated board) gets each transcript as
// plain lines, so that it needs neither this parser nor the script language:
//
//   transcript NAME            the file's name without ".t"
//   options -M -x              the daemon's arguments, blank-separated
//   keymap HEX                 the key map file's bytes
//   pointercal HEX             only when the transcript has a calibration file
//   input HEX                  every byte the adapter sends, in order
//   expect DEVICE HEX          one line per device (kbd keypipe ts adapter
//                              stdout), empty when it must receive nothing
//   end
void print_plan(const transcript &t)
{
	std::string name = t.path.substr(t.path.rfind('/') + 1);
	if (name.size() > 2 && name.compare(name.size() - 2, 2, ".t") == 0)
		name.resize(name.size() - 2);
	printf("transcript %s\noptions", name.c_str());
	for (const std::string &option : t.options)
		printf(" %s", option.c_str());
	printf("\n");
	print_hex_line("keymap", t.key_map);
	if (t.pointercal)
		print_hex_line("pointercal", *t.pointercal);
	std::vector<uint8_t> input = all_input(t);
	print_hex_line("input", std::string(input.begin(), input.end()));
	for (std::size_t d = 0; d < transcript_device_count; ++d)
		print_hex_line(std::string("expect ") + transcript_device_names[d], t.expected[d]);
	printf("end\n");
}

// "step NAME HEX": each step of a steps file with the bytes its script
// lines send, so that the board's driver writes no frame layout itself.
bool print_steps(const std::string &path, std::string &error)
{
	std::string text;
	if (!read_whole_file(path.c_str(), text)) {
		error = path + ": cannot read";
		return false;
	}
	std::string name;
	std::string bytes;
	script_player player;
	player.send = [](std::span<const uint8_t> sent, std::string_view, void *context) {
		static_cast<std::string *>(context)->append(sent.begin(), sent.end());
	};
	player.context = &bytes;
	auto finish = [&name, &bytes]() {
		if (!name.empty())
			print_hex_line("step " + name, bytes);
		bytes.clear();
	};
	std::size_t start = 0;
	for (int number = 1; start < text.size(); ++number) {
		std::size_t end = text.find('\n', start);
		std::string line = text.substr(start, end == std::string::npos ? end : end - start);
		start = end == std::string::npos ? text.size() : end + 1;
		if (line.rfind("step ", 0) == 0) {
			finish();
			name = line.substr(5);
			continue;
		}
		script_error failure = run_script_line(player, line);
		if (!failure.failed && name.empty() && !bytes.empty()) {
			failure.failed = true;
			append(failure.message, "input before the first step");
		}
		if (failure.failed) {
			error = path + ":" + std::to_string(number) + ": " + std::string(view_of(failure.message));
			return false;
		}
	}
	finish();
	return true;
}

bool write_file(const std::string &path, const std::string &text)
{
	FILE *file = fopen(path.c_str(), "w");
	if (!file)
		return false;
	bool whole = fwrite(text.data(), 1, text.size(), file) == text.size();
	return fclose(file) == 0 && whole;
}

} // namespace

int main(int argc, char **argv)
{
	int first = 1;
	bool update = argc > 1 && std::string(argv[1]) == "--update";
	bool plan = argc > 1 && std::string(argv[1]) == "--plan";
	if (update || plan)
		++first;
	if (argc - first < 2) {
		fprintf(stderr, "usage: %s [--update | --plan] SOURCE_ROOT FILE...\n", argv[0]);
		return 2;
	}
	const std::string source_root = argv[first++];
	int failed = 0;
	for (int i = first; i < argc; ++i) {
		transcript t;
		transcript_result result;
		std::string error;
		const std::string file = argv[i];
		if (plan && file.size() > 6 && file.compare(file.size() - 6, 6, ".steps") == 0) {
			if (!print_steps(file, error)) {
				fprintf(stderr, "%s\n", error.c_str());
				++failed;
			}
			continue;
		}
		if (plan && read_transcript(argv[i], source_root, t, error)) {
			print_plan(t);
			continue;
		}
		if (plan || !read_transcript(argv[i], source_root, t, error) ||
		    !run(t, result, error)) {
			fprintf(stderr, "%s\n", error.c_str());
			++failed;
			continue;
		}
		if (update) {
			std::string text = rewrite_transcript(t, result);
			if (!write_file(t.path, text)) {
				fprintf(stderr, "%s: cannot write\n", t.path.c_str());
				++failed;
			}
			continue;
		}
		std::string report = compare_transcript(t, result);
		if (!report.empty()) {
			fprintf(stderr, "%s: the devices received other bytes\n%s", t.path.c_str(),
				report.c_str());
			++failed;
		}
	}
	if (update)
		printf("Rewrote the expected sections of %d transcript(s) from this build's run.\n"
		       "Read every changed line (git diff tests/transcripts) before committing.\n",
		       argc - first - failed);
	return failed == 0 ? 0 : 1;
}
