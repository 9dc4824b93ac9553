extern "C" __declspec(dllimport) int ImportCheckValue();
int main() {
    return ImportCheckValue() == 7 ? 0 : 1;
}
