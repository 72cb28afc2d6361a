// A console program that returns at once: the floor of a process start, for the whole-process
// benchmark (scripts/bench).
int main() {
    return 0;
}
