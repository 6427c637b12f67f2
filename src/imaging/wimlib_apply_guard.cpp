#include "imaging/wimlib_apply_guard.h"

#include <vector>

namespace {

struct Entry {
    QByteArray path;  // in the image, "/" first
    bool folder = false;
};

int collectChild(const wimlib_dir_entry *dentry, void *context)
{
    static_cast<std::vector<Entry> *>(context)->push_back(
        {QByteArray(dentry->full_path), (dentry->attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY) != 0});
    return 0;
}

struct Search {
    WIMStruct *wim;
    int image;
    QByteArray target;
    struct stat archive;
};

// 0 and *where empty: not below `folder`; else the wimlib error.
int search(const Search &s, const QByteArray &folder, QByteArray *where)
{
    std::vector<Entry> children;
    if (const int code = wimlib_iterate_dir_tree(s.wim, s.image, folder.constData(),
                                                 WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, &collectChild, &children))
        return code;
    for (const Entry &child : children) {
        struct stat onDisk;
        // Following links as the extraction would when it finds them there.
        if (::stat((s.target + child.path).constData(), &onDisk) != 0)
            continue;
        if (onDisk.st_dev == s.archive.st_dev && onDisk.st_ino == s.archive.st_ino) {
            *where = child.path;
            return 0;
        }
        if (child.folder && S_ISDIR(onDisk.st_mode)) {
            if (const int code = search(s, child.path, where); code != 0 || !where->isEmpty())
                return code;
        }
    }
    return 0;
}

}  // namespace

int findArchiveInImage(WIMStruct *wim, int image, const QByteArray &target, const struct stat &archive,
                       QByteArray *where)
{
    Search s{wim, image, target, archive};
    while (s.target.endsWith('/'))
        s.target.chop(1);
    where->clear();
    return search(s, QByteArrayLiteral("/"), where);
}
