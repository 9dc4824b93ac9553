// A DLL that is not a system DLL, for the import check's own test.
extern "C" __declspec(dllexport) int ImportCheckValue() {
    return 7;
}
