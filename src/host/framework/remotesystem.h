// The remote-system functions: running commands and handling files on another machine through a
// connection. This build reaches the local machine only ("localhost"); every function takes the
// connection number that connectToRemoteSystem returned as its first argument.
#pragma once

#include "scriptcontext.h"

namespace RemoteSystemApi {

// ?host? ?port? -> connection number. Only the local machine can be connected to.
int connectToRemoteSystem(ScriptContext* context);
// connection -> empty.
int closeRemoteSystemConnection(ScriptContext* context);
// connection command ?workingDirectory? ?environment(dict)? ?timeoutSeconds? -> {exitCode stdout stderr};
// the command runs through /bin/sh -c.
int executeCommand(ScriptContext* context);
// connection name -> the value, empty when unset.
int getEnvironmentVariable(ScriptContext* context);
// connection -> the operating system's name.
int getOSName(ScriptContext* context);
// connection directory -> the names of its entries, sorted.
int getRemoteDirectoryContent(ScriptContext* context);
// connection path property -> isDir, isFile, isSymLink, isReadable, isWritable, isExecutable, isHidden,
// size (bytes) or lastModified (seconds since the epoch).
int getRemotePathProperty(ScriptContext* context);
// connection path -> 1 or 0.
int remotePathExists(ScriptContext* context);
// The operations below answer 1, or fail with an error naming the path.
// connection oldPath newPath
int remoteRenamePath(ScriptContext* context);
// connection directory (parents made as needed)
int remoteCreatePath(ScriptContext* context);
// connection directory ?recursive?
int remoteDeletePath(ScriptContext* context);
// connection file ?content? (the file must not exist)
int remoteCreateFile(ScriptContext* context);
// connection file
int remoteDeleteFile(ScriptContext* context);
// connection source destination (directories are copied with their contents; the destination must not
// exist)
int remoteCopyPath(ScriptContext* context);
// connection localFile remoteFile, and connection remoteFile localFile: copies that replace the target.
int remoteUploadFile(ScriptContext* context);
int remoteDownloadFile(ScriptContext* context);

} // namespace RemoteSystemApi
