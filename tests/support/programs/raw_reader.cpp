// pelora-raw-reader OUTPUT: puts its terminal in raw mode and appends every byte it
// reads to OUTPUT as it arrives (the file appears once raw mode is on). Runs inside
// xterm, so that tests see exactly the bytes the terminal sent for the keys typed.
// Ends on end of input or a hang-up.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelora-raw-reader OUTPUT\n");
        return 2;
    }
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) != 0) {
        std::perror("tcgetattr");
        return 1;
    }
    cfmakeraw(&mode);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) {
        std::perror("tcsetattr");
        return 1;
    }
    // Created under another name and renamed: the output exists only once raw mode is on.
    const std::string output = argv[1];
    const std::string partial = output + ".partial";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || rename(partial.c_str(), output.c_str()) != 0) {
        std::perror("open");
        return 1;
    }
    const char* ready = "pelora-raw-reader: ready\r\n";
    [[maybe_unused]] ssize_t w = write(STDOUT_FILENO, ready, std::char_traits<char>::length(ready));
    char buffer[4096];
    while (true) {
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t k = write(fd, buffer + done, static_cast<size_t>(n - done));
            if (k <= 0) return 1;
            done += k;
        }
    }
    close(fd);
    return 0;
}
