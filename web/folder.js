// The folder the program runs in, in the page's memory: a Map from file
// name to bytes, Module.files, that the page fills before a run and reads
// after it. It answers the few calls the program's C library makes on a
// file (open, seek, read, write, close) the way a disk would, so that the
// page needs none of the runtime's general-purpose file system.
mergeInto(LibraryManager.library, {
  $folder: { open: {}, next: 3 }, // descriptors 0 to 2 are the console's
  $folder__postset: "Module['files'] = new Map();",

  __syscall_open__deps: ['$folder'],
  __syscall_open: function(path, flags, varargs) {
    var name = UTF8ToString(path), files = Module['files'];
    if (!files.has(name)) {
      if (!(flags & {{{ cDefine('O_CREAT') }}})) return -{{{ cDefine('ENOENT') }}};
      files.set(name, new Uint8Array(0));
    }
    if (flags & {{{ cDefine('O_TRUNC') }}}) files.set(name, new Uint8Array(0));
    var access = flags & {{{ cDefine('O_ACCMODE') }}};
    folder.open[folder.next] = { name: name, at: 0, read: access !== {{{ cDefine('O_WRONLY') }}},
                                 write: access !== {{{ cDefine('O_RDONLY') }}} };
    return folder.next++;
  },

  // Not a terminal, and no flags to change.
  __syscall_ioctl: function(fd, op, varargs) { return -{{{ cDefine('ENOTTY') }}}; },
  __syscall_fcntl64: function(fd, cmd, varargs) { return -{{{ cDefine('EINVAL') }}}; },

  fd_seek__deps: ['$folder'],
  fd_seek: function(fd, offset_low, offset_high, whence, newOffset) {
    var file = folder.open[fd];
    if (!file) return {{{ cDefine('EBADF') }}};
    var base = whence === {{{ cDefine('SEEK_SET') }}} ? 0 : whence === {{{ cDefine('SEEK_CUR') }}} ? file.at
             : whence === {{{ cDefine('SEEK_END') }}} ? Module['files'].get(file.name).length : NaN;
    var at = base + offset_high * 0x100000000 + (offset_low >>> 0);
    if (!(at >= 0 && at <= Number.MAX_SAFE_INTEGER)) return {{{ cDefine('EINVAL') }}};
    file.at = at;
    HEAP32[newOffset >> 2] = at >>> 0;
    HEAP32[(newOffset + 4) >> 2] = Math.floor(at / 0x100000000);
    return 0;
  },

  // Past the end, a write first fills the gap with zeros, as a disk does.
  fd_write__deps: ['$folder'],
  fd_write: function(fd, iov, iovcnt, pnum) {
    var file = folder.open[fd], done = 0;
    if (fd === 1 || fd === 2) file = null; // the console: nothing is shown
    else if (!file || !file.write) return {{{ cDefine('EBADF') }}};
    for (var i = 0; i < iovcnt; i++, iov += 8) {
      var ptr = HEAP32[iov >> 2], len = HEAP32[(iov + 4) >> 2];
      if (file) {
        var bytes = Module['files'].get(file.name);
        if (file.at + len > bytes.length) {
          var grown = new Uint8Array(file.at + len);
          grown.set(bytes);
          Module['files'].set(file.name, bytes = grown);
        }
        bytes.set(HEAPU8.subarray(ptr, ptr + len), file.at);
        file.at += len;
      }
      done += len;
    }
    HEAP32[pnum >> 2] = done;
    return 0;
  },

  fd_read__deps: ['$folder'],
  fd_read: function(fd, iov, iovcnt, pnum) {
    var file = folder.open[fd], done = 0;
    if (!file || !file.read) return {{{ cDefine('EBADF') }}};
    for (var i = 0; i < iovcnt; i++, iov += 8) {
      var ptr = HEAP32[iov >> 2], len = HEAP32[(iov + 4) >> 2];
      var part = Module['files'].get(file.name).subarray(file.at, file.at + len);
      HEAPU8.set(part, ptr);
      file.at += part.length;
      done += part.length;
      if (part.length < len) break;
    }
    HEAP32[pnum >> 2] = done;
    return 0;
  },

  fd_close__deps: ['$folder'],
  fd_close: function(fd) {
    if (!folder.open[fd]) return {{{ cDefine('EBADF') }}};
    delete folder.open[fd];
    return 0;
  },
});
