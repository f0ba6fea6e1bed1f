// A stand-in application under test. Works through its arguments in order:
//   --out TEXT    writes TEXT and a line feed to standard output
//   --err TEXT    the same to standard error
//   --env NAME    writes NAME=VALUE (or NAME unset) to standard output
//   --sleep MS    waits that many milliseconds
//   --exit CODE   exits with CODE at once
//   --bulk BYTES  writes that many x characters and a line feed to standard output
//   --ignore-term 1  ignores SIGTERM from then on (only SIGKILL ends it)
// and exits with 0 at the end.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char* argv[])
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* option = argv[i];
        const char* value = argv[i + 1];
        if (!strcmp(option, "--out")) {
            printf("%s\n", value);
            fflush(stdout);
        } else if (!strcmp(option, "--err")) {
            fprintf(stderr, "%s\n", value);
        } else if (!strcmp(option, "--env")) {
            const char* v = getenv(value);
            v ? printf("%s=%s\n", value, v) : printf("%s unset\n", value);
            fflush(stdout);
        } else if (!strcmp(option, "--sleep")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(atol(value)));
        } else if (!strcmp(option, "--bulk")) {
            for (long n = atol(value); n > 0; --n)
                putchar('x');
            putchar('\n');
            fflush(stdout);
        } else if (!strcmp(option, "--ignore-term")) {
            signal(SIGTERM, SIG_IGN);
        } else if (!strcmp(option, "--exit")) {
            return atoi(value);
        } else {
            fprintf(stderr, "fakeapp: unknown option %s\n", option);
            return 64;
        }
    }
    return 0;
}
