#include <cstdio>

int main() {
    std::puts("Vexil started");
    std::puts("Vexil stopped");
    return 0;
}
