# cmake -DNM=... -DSTRIP=... -DBINARY=... -P check_no_cxx_runtime.cmake
#
# The handheld's programs (the daemon, ps2trace) link no C++ runtime: no
# libstdc++, no exception handling or unwinding, no RTTI. A header used by mistake (iostream, a
# throwing container) would pull in most of a megabyte and the runtime's
# start-up; it would show here as one of these symbols in the unstripped
# binary. After the check the binary is stripped in place.
execute_process(COMMAND ${NM} ${BINARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot list the symbols of ${BINARY}")
endif()
string(REGEX MATCHALL "[^\n]* (_Unwind_[A-Za-z_]*|__cxa_[a-z_]*|__gxx_personality[a-z0-9_]*|__aeabi_unwind_cpp_pr[0-9]|_ZNSt[A-Za-z0-9_]*|_ZSt[A-Za-z0-9_]*|_ZTI[A-Za-z0-9_]*|__gnu_cxx[A-Za-z0-9_]*)\n"
       runtime "${symbols}\n")
# The C library's own exit handling (atexit runs on __cxa_atexit in musl).
list(FILTER runtime EXCLUDE REGEX " __cxa_(atexit|finalize)\n")
# std::string_view's code is all in its header: where the compiler chose
# not to inline a piece of it (a constructor, ==), the piece is compiled
# into our own objects as a weak symbol and needs nothing of the runtime.
# A function of the runtime is never weak, and a throwing one (substr) is
# still caught by the __throw_ function it calls.
list(FILTER runtime EXCLUDE REGEX " [Ww] _Z[A-Za-z0-9_]*(basic_string_viewI|char_traitsI)[A-Za-z0-9_]*\n")
if(runtime)
  string(JOIN "" runtime ${runtime})
  get_filename_component(program ${BINARY} NAME)
  message(FATAL_ERROR "${program} pulls in the C++ runtime:\n${runtime}")
endif()
execute_process(COMMAND ${STRIP} ${BINARY} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot strip ${BINARY}")
endif()
