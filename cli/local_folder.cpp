#include "cli/local_folder.h"

#include <cerrno>

namespace dncctl {

namespace {

const char *KindOf(platform::FileKind kind) {
    switch (kind) {
        case platform::FileKind::kLink: return "a link";
        case platform::FileKind::kFolder: return "a folder";
        case platform::FileKind::kFile: return "a file";
        case platform::FileKind::kFifo: return "a FIFO";
        case platform::FileKind::kDevice: return "a device";
        case platform::FileKind::kSocket: return "a socket";
        default: return "a special file";
    }
}

// After the open: a regular file, or why not.
bool CheckRegular(platform::File opened, const std::string &shown, RegularFile *file, std::string *error) {
    platform::FileInfo info;
    if (const int failed = opened.Info(&info); failed != 0) {
        *error = "cannot read " + shown + ": " + platform::ErrorText(failed);
        return false;
    }
    if (info.kind != platform::FileKind::kFile) {
        *error = shown + " is " + KindOf(info.kind) + ", not a regular file";
        return false;
    }
    file->file = std::move(opened);
    file->size = info.size;
    return true;
}

bool IsDotName(const std::string &name) { return name == "." || name == ".."; }

}  // namespace

bool OpenRegularFile(const std::string &path, RegularFile *file, std::string *error) {
    platform::File opened;
    if (const int failed = platform::OpenForReading(path, platform::Links::kFollow, &opened); failed != 0) {
        *error = "cannot open " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    return CheckRegular(std::move(opened), path, file, error);
}

int64_t ReadFully(platform::File &file, void *buffer, size_t length, int *error) {
    int failed = 0;
    const int64_t n = file.ReadFully(buffer, length, &failed);
    if (n < 0 && error != nullptr) *error = failed;
    return n;
}

std::string DescribeEntry(const platform::Folder &folder, const std::string &name) {
    platform::FileInfo info;
    if (const int failed = folder.Lookup(name, &info); failed != 0) return platform::ErrorText(failed);
    if (info.kind == platform::FileKind::kMissing) return platform::ErrorText(ENOENT);
    return KindOf(info.kind);
}

bool LocalFolder::Open(const std::string &path, LocalFolder *folder, std::string *error) {
    if (const int failed = platform::Folder::Open(path.empty() ? "." : path, &folder->folder_); failed != 0) {
        *error = "cannot open the folder " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    folder->path_ = path;
    return true;
}

std::string LocalFolder::Shown(const std::string &relative) const {
    if (relative.empty()) return path_;
    if (!path_.empty() && path_.back() == '/') return path_ + relative;
    return path_ + "/" + relative;
}

bool LocalFolder::Descend(const std::string &relative, bool create, LocalFolder *folder, std::string *error) const {
    platform::Folder current;
    if (const int failed = folder_.Duplicate(&current); failed != 0) {
        *error = "cannot open the folder " + path_ + ": " + platform::ErrorText(failed);
        return false;
    }
    std::string walked;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string name = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        if (name.empty()) continue;
        walked += (walked.empty() ? "" : "/") + name;
        if (IsDotName(name)) {
            *error = Shown(walked) + ": not a name inside " + path_;
            return false;
        }
        platform::Folder next;
        int failed = current.OpenFolder(name, &next);
        if (failed == ENOENT && create) {
            if (const int made = current.MakeFolder(name); made != 0 && made != EEXIST) {
                *error = "cannot make the folder " + Shown(walked) + ": " + platform::ErrorText(made);
                return false;
            }
            failed = current.OpenFolder(name, &next);
        }
        if (failed != 0) {
            const std::string kind = DescribeEntry(current, name);
            if (kind == "a link") {
                *error = Shown(walked) + ": a link, not followed; nothing is read or written through it";
            } else if (failed == ENOTDIR || failed == ELOOP) {
                *error = Shown(walked) + " is " + kind + " where a folder should be";
            } else {
                *error = "cannot open the folder " + Shown(walked) + ": " + platform::ErrorText(failed);
            }
            return false;
        }
        current = std::move(next);
    }
    folder->folder_ = std::move(current);
    folder->path_ = Shown(relative);
    return true;
}

bool LocalFolder::OpenFile(const std::string &relative, RegularFile *file, std::string *error) const {
    const size_t slash = relative.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    LocalFolder parent;
    if (!Descend(parentPath, false, &parent, error)) return false;
    if (name.empty() || IsDotName(name)) {
        *error = Shown(relative) + ": not a file name";
        return false;
    }
    platform::File opened;
    if (const int failed = parent.folder_.OpenFile(name, &opened); failed != 0) {
        if (DescribeEntry(parent.folder_, name) == "a link") {
            *error = Shown(relative) + ": a link, not followed; nothing is read through it";
        } else {
            *error = "cannot open " + Shown(relative) + ": " + platform::ErrorText(failed);
        }
        return false;
    }
    return CheckRegular(std::move(opened), Shown(relative), file, error);
}

}  // namespace dncctl
