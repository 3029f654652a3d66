// The key map loader: which lines fill which table, how a long line is cut
// into pieces, what a read error leaves behind, and that the shipped sample
// map is complete and loads without a skipped line.
//
// A table's contents are rendered as one short text (only what differs from
// a fresh daemon), so each case states its whole effect, and a line that
// should change nothing is checked to change nothing at all.
#include "key_test_support.h"

#include <cerrno>
#include <cstdarg>
#include <set>
#include <unistd.h>

namespace {

__attribute__((format(printf, 2, 3))) void append(std::string &out, const char *format, ...)
{
	char item[160];
	va_list values;
	va_start(values, format);
	vsnprintf(item, sizeof item, format, values);
	va_end(values);
	if (!out.empty())
		out += "; ";
	out += item;
}

// Everything a key map can set, as far as it differs from a fresh daemon:
// "modifier 12=01", "keyrep_first=10", "joystick 3=75",
// "slot 3/1C/0 A=1C" (combination / scan code / prefix index, name=value).
std::string render_tables()
{
	std::string out;
	for (unsigned code = 0; code < scan_code_count; ++code)
		if (key_tables.modifier_of_code[code])
			append(out, "modifier %02X=%02X", code, unsigned{key_tables.modifier_of_code[code]});
	if (key_tables.keyrep_first != default_keyrep_first)
		append(out, "keyrep_first=%02X", key_tables.keyrep_first);
	if (key_tables.keyrep_next != default_keyrep_next)
		append(out, "keyrep_next=%02X", key_tables.keyrep_next);
	for (unsigned button = 0; button < joystick_button_count; ++button)
		if (key_tables.joystick_keys[button])
			append(out, "joystick %u=%X", button,
			       static_cast<unsigned>(key_tables.joystick_keys[button]));
	for (unsigned combination = 0; combination < modifier_combinations; ++combination)
		for (unsigned code = 0; code < scan_code_count; ++code)
			for (unsigned prefix = 0; prefix < prefix_index_count; ++prefix) {
				const key_entry &slot = key_tables.key_table[combination][code][prefix];
				if (slot.name)
					append(out, "slot %u/%02X/%u %s=%X", combination, code, prefix,
					       slot.name, unsigned{slot.value});
			}
	return out;
}

struct line_case {
	const char *line;
	const char *effect; // render_tables() after loading just this line
};

const line_case line_cases[] = {
	// modifier keys
	{"lshift 12", "modifier 12=01"},
	{"LSHIFT 12", "modifier 12=01"},
	{"LShift 0x12", "modifier 12=01"},
	{"lctrl 14", "modifier 14=02"},
	{"lalt 11", "modifier 11=04"},
	{"rshift 59", "modifier 59=10"},
	{"rctrl 14", "modifier 14=20"},
	{"ralt 11", "modifier 11=40"},
	{"rcmd 27", "modifier 27=80"},
	{"RCMD 1f", "modifier 1F=80"},
	{"lshift ff", "modifier FF=01"},
	{"lshift 12 and words after it", "modifier 12=01"},
	{"lshift 100", ""},
	{"lshift", ""},
	{"lshift zz", ""},
	{"lcmd 1F", ""},
	// key repeat, hexadecimal and kept to seven bits
	{"keyrep_first 10", "keyrep_first=10"},
	{"KEYREP_FIRST 7f", "keyrep_first=7F"},
	{"keyrep_next 80", "keyrep_next=00"},
	{"keyrep_next 85", "keyrep_next=05"},
	{"keyrep_first", ""},
	{"keyrep_next x", ""},
	// joystick buttons: decimal button, hexadecimal value
	{"J 3 up 75", "joystick 3=75"},
	{"J 15 last 0x141", "joystick 15=141"},
	{"J 0 fire 1e05", "joystick 0=1E05"},
	{"J 16 up 75", ""},
	{"J -1 up 75", ""},
	{"J 3 up", ""},
	{"J x up 75", ""},
	{"j 3 up 75", ""},
	// keys
	{"1c a - 1c", "slot 0/1C/0 a=1C"},
	{"1C A SC 1c", "slot 3/1C/0 A=1C"},
	{"E075 up - 67", "slot 0/75/1 up=67"},
	{"e075 up SCFM 67", "slot 15/75/1 up=67"},
	{"1c a sc 1c", "slot 0/1C/0 a=1C"},
	{"1c a MxS 1c", "slot 9/1C/0 a=1C"},
	{"1c a FF 1c", "slot 4/1C/0 a=1C"},
	{"E080 Pause - 77", "slot 0/80/1 Pause=77"},
	{"e0ff x - 1", "slot 0/FF/1 x=1"},
	{"1c a - 1e05", "slot 0/1C/0 a=1E05"},
	{"1c a - 0x1c", "slot 0/1C/0 a=1C"},
	{"1c Caps - 0", "slot 0/1C/0 Caps=0"},
	{"1c a - 1c and words after it", "slot 0/1C/0 a=1C"},
	{"1c a 1c", ""},
	{"1c a - zz", ""},
	{"E175 up - 67", ""},
	{"1c2 x - 1", ""},
	{"1G x - 1", ""},
	{"0x1c x - 1", ""},
	{"12 lshift - 2a", "slot 0/12/0 lshift=2A"},
	// blanks and comments
	{"   lshift 12", "modifier 12=01"},
	{"\t 1c a - 1c", "slot 0/1C/0 a=1C"},
	{"#lshift 12", ""},
	{"# 1c a - 1c", ""},
	{" #lshift 12", ""},
	{"", ""},
	{"   \t", ""},
};

TEST(key_map, single_lines_and_their_effect)
{
	for (const line_case &c : line_cases) {
		SCOPED_TRACE(c.line);
		reset_daemon_state();
		load_key_map_text(std::string(c.line) + "\n");
		EXPECT_EQ(render_tables(), c.effect);
	}
}

TEST(key_map, later_lines_win)
{
	const line_case cases[] = {
		{"lshift 12\nrshift 12\n", "modifier 12=10"},
		{"1c a - 1c\n1c b - 2c\n", "slot 0/1C/0 b=2C"},
		{"1c a - 1c\n1c b S 2c\n", "slot 0/1C/0 a=1C; slot 1/1C/0 b=2C"},
		{"J 3 up 75\nJ 3 down 76\n", "joystick 3=76"},
		{"keyrep_first 10\nkeyrep_first 20\n", "keyrep_first=20"},
		{"keyrep_first 10\nkeyrep_first\n", "keyrep_first=10"},
		{"1c a - 1c\n1c a 1c\n", "slot 0/1C/0 a=1C"},
	};
	for (const line_case &c : cases) {
		SCOPED_TRACE(c.line);
		reset_daemon_state();
		load_key_map_text(c.line);
		EXPECT_EQ(render_tables(), c.effect);
	}
}

TEST(key_map, modifier_bit_ignores_case_and_the_last_slot_wins)
{
	struct {
		const char *name;
		unsigned bit;
	} const cases[] = {
		{"lshift", 0x01}, {"LShift", 0x01}, {"lctrl", 0x02}, {"LALT", 0x04},
		{"rshift", 0x10}, {"rctrl", 0x20},  {"Ralt", 0x40},  {"rcmd", 0x80},
		{"RCMD", 0x80},   {"lcmd", 0},      {"cmd", 0},      {"shift", 0},
		{"lshift ", 0},   {"", 0},          {"J", 0},        {"keyrep_first", 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(modifier_bit(c.name), c.bit);
	}
}

// Collects what the loader saw, piece by piece, with its verdict.
struct seen_lines {
	std::vector<std::string> pieces;
	std::vector<key_map_verdict> verdicts;
};

void remember_line(const key_map_line &line, void *context)
{
	auto *seen = static_cast<seen_lines *>(context);
	seen->pieces.emplace_back(line.text);
	seen->verdicts.push_back(line.verdict);
}

std::string padded(const std::string &start, std::size_t width, const std::string &end)
{
	return start + std::string(width - start.size() - end.size(), ' ') + end;
}

TEST(key_map, a_long_line_is_read_as_pieces_of_78_characters)
{
	struct {
		const char *legend;
		std::string text;
		std::vector<std::string> pieces;
		const char *effect;
	} const cases[] = {
		{"77 characters and the newline arrive whole", padded("1C a -", 77, "1E") + "\n",
		 {padded("1C a -", 77, "1E") + "\n"}, "slot 0/1C/0 a=1E"},
		{"the 79th character starts a new piece", padded("1C a -", 79, "1234") + "\n",
		 {padded("1C a -", 78, "123"), "4\n"}, "slot 0/1C/0 a=123"},
		{"78 characters leave the newline as a blank piece", padded("lshift", 78, "12") + "\n",
		 {padded("lshift", 78, "12"), "\n"}, "modifier 12=01"},
		{"the tail of a long comment is read as a line",
		 padded("# a comment", 78, "") + "lshift 12\n",
		 {padded("# a comment", 78, ""), "lshift 12\n"}, "modifier 12=01"},
		{"three pieces, the last one a key line",
		 padded("#", 78, "") + padded("", 78, "") + "rcmd 27\n",
		 {padded("#", 78, ""), padded("", 78, ""), "rcmd 27\n"}, "modifier 27=80"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.legend);
		reset_daemon_state();
		seen_lines seen;
		load_key_map_text(c.text, remember_line, &seen);
		EXPECT_EQ(seen.pieces, c.pieces);
		EXPECT_EQ(render_tables(), c.effect);
	}
}

// A key map file on disk; the caller removes it.
std::string write_temp_file(const std::string &text)
{
	char path[] = "/tmp/key_map_test_XXXXXX";
	int fd = mkstemp(path);
	EXPECT_NE(fd, -1);
	EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
	close(fd);
	return path;
}

TEST(key_map, loading_a_file)
{
	struct {
		const char *legend;
		std::string text;
	} const cases[] = {
		{"empty file", ""},
		{"comments and blank lines only", "# nothing here\n\n   \n#lshift 12\n"},
		{"no newline at the end", "# last line"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.legend);
		reset_daemon_state();
		load_key_map_text("lshift 12\n1c a - 1c\n"); // what an earlier load left
		std::string path = write_temp_file(c.text);
		EXPECT_EQ(load_key_map(path.c_str()), 0);
		EXPECT_EQ(render_tables(), "");
		unlink(path.c_str());
	}
}

TEST(key_map, last_line_without_newline_counts)
{
	reset_daemon_state();
	std::string path = write_temp_file("lshift 12\n1c a - 1c");
	EXPECT_EQ(load_key_map(path.c_str()), 0);
	EXPECT_EQ(render_tables(), "modifier 12=01; slot 0/1C/0 a=1C");
	unlink(path.c_str());
}

TEST(key_map, a_missing_file_fails_and_leaves_the_key_tables_empty)
{
	reset_daemon_state();
	load_key_map_text("lshift 12\n1c a - 1c\nJ 3 up 75\nkeyrep_first 10\n");
	key_tables.modifier_state = 0x11;
	EXPECT_EQ(load_key_map("/nonexistent/ser_code_vantor.ini"), -1);
	EXPECT_EQ(key_tables.modifier_state, 0u);
	// The joystick and key repeat settings are no key tables: they stay.
	EXPECT_EQ(render_tables(), "keyrep_first=10; joystick 3=75");
}

// A stream that delivers some bytes and then fails every read, as a file on
// a dying card would. It counts the failed reads.
struct failing_source {
	std::string text;
	std::size_t offset = 0;
	int failed_reads = 0;
};

ssize_t read_then_fail(void *cookie, char *buffer, size_t size)
{
	auto *source = static_cast<failing_source *>(cookie);
	if (source->offset < source->text.size()) {
		std::size_t count = std::min(size, source->text.size() - source->offset);
		source->text.copy(buffer, count, source->offset);
		source->offset += count;
		return static_cast<ssize_t>(count);
	}
	// Give up failing after a while, so that a loader which retries for
	// ever shows up as a wrong count instead of a hung test.
	if (++source->failed_reads > 100)
		return 0;
	errno = EIO;
	return -1;
}

TEST(key_map, a_read_error_ends_the_load_and_keeps_what_was_read)
{
	reset_daemon_state();
	failing_source source{"lshift 12\nJ 3 up 75\n"};
	cookie_io_functions_t io{};
	io.read = read_then_fail;
	FILE *stream = fopencookie(&source, "r", io);
	ASSERT_NE(stream, nullptr);
	seen_lines seen;
	EXPECT_EQ(load_key_map_stream(stream, remember_line, &seen), 0);
	fclose(stream);
	EXPECT_EQ(render_tables(), "modifier 12=01; joystick 3=75");
	EXPECT_EQ(seen.pieces.size(), 2u);
	EXPECT_LE(source.failed_reads, 2) << "the loader kept retrying a failing read";
}

// The shipped key map: it must load and keep the promises its header makes
// to the user. Every line whole and used (ps2kmcheck, the test
// sample_key_map_clean) and the file's lines themselves
// (sample_key_map_kernel_table, sample_key_map_generated) are the tools
// tests'; here, what none of them shows.
class sample_key_map : public ::testing::Test {
protected:
	void SetUp() override
	{
		reset_daemon_state();
		ASSERT_EQ(load_key_map(sample_key_map_path().c_str(), nullptr, nullptr), 0)
			<< sample_key_map_path();
	}
	void TearDown() override { reset_daemon_state(); }
};

TEST_F(sample_key_map, modifier_codes_and_joystick)
{
	std::string modifiers;
	for (unsigned code = 0; code < scan_code_count; ++code)
		if (key_tables.modifier_of_code[code])
			append(modifiers, "%02X=%02X", code, unsigned{key_tables.modifier_of_code[code]});
	EXPECT_EQ(modifiers, "11=04; 12=01; 14=02; 1F=80; 27=80; 59=10");
	for (unsigned button = 0; button < joystick_button_count; ++button)
		EXPECT_EQ(key_tables.joystick_keys[button] != 0, button < 8) << "button " << button;
}

// All 150 keys are there (the driver's set-2 table and Pause's E1 slot; a
// tools test holds every slot to that table), and none goes dead while
// shift, ctrl or both are held. A few codes come from several keys
// (F7, SysRq, Pause, Macro).
TEST_F(sample_key_map, every_key_has_its_own_code_and_works_with_shift_and_ctrl)
{
	std::set<uint32_t> codes;
	int keys = 0;
	for (unsigned code = 0; code < scan_code_count; ++code)
		for (unsigned prefix = 0; prefix < prefix_index_count; ++prefix) {
			const key_entry &plain = key_tables.key_table[0][code][prefix];
			if (!plain.name)
				continue;
			SCOPED_TRACE(plain.name);
			++keys;
			codes.insert(plain.value);
			EXPECT_GT(plain.value, 0u);
			EXPECT_LT(plain.value, 0x100u) << "no wrapped keys in the sample";
			for (unsigned combination = 1; combination < modifier_combinations;
			     ++combination) {
				const key_entry &other = key_tables.key_table[combination][code][prefix];
				if (other.name) {
					EXPECT_STREQ(other.name, plain.name);
					EXPECT_EQ(other.value, plain.value);
				}
			}
			for (unsigned combination :
			     {combination_shift, combination_ctrl, combination_shift | combination_ctrl})
				EXPECT_NE(key_tables.key_table[combination][code][prefix].name, nullptr)
					<< "combination " << combination;
		}
	EXPECT_EQ(keys, 150);
	EXPECT_EQ(codes.size(), 144u);
	EXPECT_STREQ(key_tables.key_table[0][0x80][1].name, "Pause");
}

// A modifier key's press and release must reach the handheld whatever else
// is held, or the handheld would keep it down.
TEST_F(sample_key_map, modifier_keys_are_filled_under_every_combination)
{
	int modifier_keys = 0;
	for (unsigned code = 0; code < scan_code_count; ++code) {
		if (!key_tables.modifier_of_code[code])
			continue;
		for (unsigned prefix = 0; prefix < prefix_index_count; ++prefix) {
			if (!key_tables.key_table[0][code][prefix].name)
				continue; // the fake shifts E0 12 and E0 59
			++modifier_keys;
			for (unsigned combination = 0; combination < modifier_combinations;
			     ++combination) {
				SCOPED_TRACE(testing::Message() << "code " << code << " prefix "
								<< prefix << " combination "
								<< combination);
				EXPECT_NE(key_tables.key_table[combination][code][prefix].name, nullptr);
			}
		}
	}
	EXPECT_EQ(modifier_keys, 9); // with the plain 27, Japanese keypad comma
	EXPECT_EQ(key_tables.key_table[0][0x12][1].name, nullptr);
	EXPECT_EQ(key_tables.key_table[combination_shift][0x12][1].name, nullptr);
	EXPECT_EQ(key_tables.key_table[0][0x59][1].name, nullptr);
}

} // namespace
