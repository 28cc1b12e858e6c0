/* The floor of a salvage copy of many small files: what any copy of a tree must do
 * per file when it reads unbuffered, keeps a log beside each copy until the copy is
 * whole, and never lets a log go before the copy's data is on the medium. For each
 * regular file below SOURCE: open it with O_DIRECT (without it where the file system
 * refuses), read it into an aligned buffer in the chunks the copier reads (30 pages,
 * at most 102400 bytes, at most a tenth of the file, whole 512-byte sectors), create
 * the copy below OUTPUT and write it, create the log beside it and write its header,
 * sync the copy's data, write the end record, close both, delete the log and sync the
 * folder (so that the copy's name and the log's removal stay). Folders are made as met. No threads, no checks beyond the calls' results: the figure
 * tessaly-cli is measured against in bench/cases/small_files.sh.
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

enum { kChunk = 102400, kSector = 512 };

/* The chunk the copier reads a file of size bytes in. */
static size_t chunkFor(unsigned long long size)
{
    unsigned long long chunk = kChunk;
    if (size / 10 < chunk) chunk = size / 10;
    chunk -= chunk % kSector;
    return chunk < kSector ? kSector : (size_t)chunk;
}

static unsigned char* buffer;
static long copied;

static int copyFile(const char* from, const char* to, int folderFd)
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
    struct stat st;
    ok = ok && fstat(in, &st) == 0;
    const size_t chunk = ok ? chunkFor((unsigned long long)st.st_size) : kSector;
    unsigned long long total = 0;
    for (ssize_t n; ok && (n = read(in, buffer, chunk)) > 0; total += (unsigned long long)n)
        ok = write(out, buffer, (size_t)n) == n;
    ok = ok && fdatasync(out) == 0;
    unsigned char end[8] = {0};
    for (int i = 0; i < 4; ++i) end[i] = (unsigned char)(total >> (8 * i));
    ok = ok && write(logFd, end, sizeof end) == (ssize_t)sizeof end;
    close(in);
    if (out >= 0) close(out);
    if (logFd >= 0) close(logFd);
    if (ok) ok = unlink(log) == 0 && fsync(folderFd) == 0;
    return ok ? 0 : -1;
}

static int copyTree(const char* from, const char* to)
{
    if (mkdir(to, 0755) != 0 && errno != EEXIST) return -1;
    DIR* folder = opendir(from);
    if (folder == NULL) return -1;
    const int folderFd = open(to, O_RDONLY | O_DIRECTORY);
    if (folderFd < 0) {
        closedir(folder);
        return -1;
    }
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
            if (copyFile(source, target, folderFd) == 0) ++copied; else result = -1;
        }
    }
    close(folderFd);
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
