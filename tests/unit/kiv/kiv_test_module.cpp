// The module name under which a test program carries the runtime; the
// binding looks for kiv.memory.dll and kiv.gc.dll beside this file.
extern const char kKivOwnModuleName[] = KIV_TEST_MODULE_NAME;
