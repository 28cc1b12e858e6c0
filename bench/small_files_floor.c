/* The floor of a salvage copy of many small files: what any copy of a tree must do
 * per file when it reads unbuffered and keeps a log beside each copy until the copy
 * is whole. For each regular file below SOURCE: open it with O_DIRECT (without it
 * where the file system refuses), read it in 1 MiB chunks into an aligned buffer,
 * create the copy below OUTPUT and write it, create the log beside it, write a header
 * and an end record, close both and delete the log. Folders are made as met. No
 * threads, no checks beyond the calls' results: the figure tessaly-cli is measured
 * against in bench/cases/small_files.sh.
 *
 *   tessaly-small-files-floor SOURCE OUTPUT
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kChunk = 1 << 20 };

static unsigned char* buffer;
static long copied;

static int copyFile(const char* from, const char* to)
{
    int in = open(from, O_RDONLY | O_DIRECT);
    if (in < 0 && errno == EINVAL) in = open(from, O_RDONLY);
    if (in < 0) return -1;
    int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    char log[PATH_MAX + 8];
    snprintf(log, sizeof log, "%s.log", to);
    int logFd = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    int ok = out >= 0 && logFd >= 0;
    static const unsigned char header[14] = {'A', 'C', 'L', 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    ok = ok && write(logFd, header, sizeof header) == (ssize_t)sizeof header &&
         write(logFd, "f", 1) == 1;
    unsigned long long total = 0;
    for (ssize_t n; ok && (n = read(in, buffer, kChunk)) > 0; total += (unsigned long long)n)
        ok = write(out, buffer, (size_t)n) == n;
    unsigned char end[8] = {0};
    for (int i = 0; i < 4; ++i) end[i] = (unsigned char)(total >> (8 * i));
    ok = ok && write(logFd, end, sizeof end) == (ssize_t)sizeof end;
    close(in);
    if (out >= 0) close(out);
    if (logFd >= 0) close(logFd);
    if (ok) unlink(log);
    return ok ? 0 : -1;
}

static int copyTree(const char* from, const char* to)
{
    if (mkdir(to, 0755) != 0 && errno != EEXIST) return -1;
    DIR* folder = opendir(from);
    if (folder == NULL) return -1;
    int result = 0;
    for (struct dirent* entry; (entry = readdir(folder)) != NULL;) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        char source[PATH_MAX];
        char target[PATH_MAX];
        snprintf(source, sizeof source, "%s/%s", from, entry->d_name);
        snprintf(target, sizeof target, "%s/%s", to, entry->d_name);
        struct stat st;
        if (lstat(source, &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            result |= copyTree(source, target);
        } else if (S_ISREG(st.st_mode)) {
            if (copyFile(source, target) == 0) ++copied; else result = -1;
        }
    }
    closedir(folder);
    return result;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s SOURCE OUTPUT\n", argv[0]);
        return 2;
    }
    if (posix_memalign((void**)&buffer, 4096, kChunk) != 0) return 1;
    const int result = copyTree(argv[1], argv[2]);
    free(buffer);
    fprintf(stderr, "%ld files\n", copied);
    return result == 0 ? 0 : 1;
}
