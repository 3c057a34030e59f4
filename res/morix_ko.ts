<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>morix::ui::CBatchRenameDlg</name>
    <message>
        <source>Trelvo Renamer</source>
        <translation>트렐보 리네이머</translation>
    </message>
    <message>
        <source>There is a new version.
%1

Press the [OK] button to check for new versions.</source>
        <translation>새 버전이 있습니다.
%1

새 버전을 확인하려면 [확인] 버튼을 누르세요.</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>이름</translation>
    </message>
    <message>
        <source>Extension</source>
        <translation>확장자</translation>
    </message>
    <message>
        <source>Change Case</source>
        <translation>대/소문자 변경</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>바꾸기</translation>
    </message>
    <message>
        <source>Select a template to add.</source>
        <translation>템플릿에서 선택해서 추가하세요.</translation>
    </message>
    <message>
        <source>Original File Name &lt;N&gt;</source>
        <translation>원본 파일 이름 &lt;N&gt;</translation>
    </message>
    <message>
        <source>Original File Name excluding Numbers &lt;NS&gt;</source>
        <translation>숫자를 제외한 원본 파일 이름 &lt;NS&gt;</translation>
    </message>
    <message>
        <source>Numbers of Original File Name &lt;ND&gt;</source>
        <translation>원본 파일 이름의 숫자 &lt;ND&gt;</translation>
    </message>
    <message>
        <source>Original File Extension &lt;E&gt;</source>
        <translation>원본 파일 확장자 &lt;E&gt;</translation>
    </message>
    <message>
        <source>Sequence Number #~####</source>
        <translation>일련번호 #~####</translation>
    </message>
    <message>
        <source>File Size &lt;z&gt;</source>
        <translation>파일 크기 &lt;z&gt;</translation>
    </message>
    <message>
        <source>File Size(KB) &lt;zKB&gt;</source>
        <translation>파일 크기(KB) &lt;zKB&gt;</translation>
    </message>
    <message>
        <source>Folder Name &lt;P&gt;</source>
        <translation>상위 폴더 이름 &lt;P&gt;</translation>
    </message>
    <message>
        <source>File Modified Date &lt;YYYYMMDD&gt; - 20031004</source>
        <translation>파일 수정 날짜 &lt;YYYYMMDD&gt; - 20031004</translation>
    </message>
    <message>
        <source>File Modified Date &lt;YYMMDD&gt; - 031004</source>
        <translation>파일 수정 날짜 &lt;YYMMDD&gt; - 031004</translation>
    </message>
    <message>
        <source>File Modified Date &lt;YYYY-MM-DD&gt; - 2003-10-04</source>
        <translation>파일 수정 날짜 &lt;YYYY-MM-DD&gt; - 2003-10-04</translation>
    </message>
    <message>
        <source>File Modified Date &lt;YY-MM-DD&gt; - 03-10-04</source>
        <translation>파일 수정 날짜 &lt;YY-MM-DD&gt; - 03-10-04</translation>
    </message>
    <message>
        <source>File Modified Time &lt;HHmmss&gt; - 031045</source>
        <translation>파일 수정 시간 &lt;HHmmss&gt; - 031045</translation>
    </message>
    <message>
        <source>File Modified Time &lt;HH_mm_ss&gt; - 03_10_45</source>
        <translation>파일 수정 시간 &lt;HH_mm_ss&gt; - 03_10_45</translation>
    </message>
    <message>
        <source>Current Date &lt;TYYYYMMDD&gt; - 20031004</source>
        <translation>현재 날짜 &lt;TYYYYMMDD&gt; - 20031004</translation>
    </message>
    <message>
        <source>Current Date &lt;TYYMMDD&gt; - 031004</source>
        <translation>현재 날짜 &lt;TYYMMDD&gt; - 031004</translation>
    </message>
    <message>
        <source>Current Date &lt;TYYYY-MM-DD&gt; - 2003-10-04</source>
        <translation>현재 날짜 &lt;TYYYY-MM-DD&gt; - 2003-10-04</translation>
    </message>
    <message>
        <source>Current Date &lt;TYY-MM-DD&gt; - 03-10-04</source>
        <translation>현재 날짜 &lt;TYY-MM-DD&gt; - 03-10-04</translation>
    </message>
    <message>
        <source>Current Time &lt;THHmmss&gt; - 031045</source>
        <translation>현재 시간 &lt;THHmmss&gt; - 031045</translation>
    </message>
    <message>
        <source>Current Time &lt;THH_mm_ss&gt; - 03_10_45</source>
        <translation>현재 시간 &lt;THH_mm_ss&gt; - 03_10_45</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>추가</translation>
    </message>
    <message>
        <source>Start Num:</source>
        <translation>시작 번호</translation>
    </message>
    <message>
        <source>Increment:</source>
        <translation>증가</translation>
    </message>
    <message>
        <source>Change</source>
        <translation>변경하기</translation>
    </message>
    <message>
        <source>No Change</source>
        <translation>변경하지 않음</translation>
    </message>
    <message>
        <source>Change all to uppercase</source>
        <translation>모두 대문자로 변경</translation>
    </message>
    <message>
        <source>Change all to lowercase</source>
        <translation>모두 소문자로 변경</translation>
    </message>
    <message>
        <source>Change the name to uppercase</source>
        <translation>이름만 대문자로 변경</translation>
    </message>
    <message>
        <source>Change the name to lowercase</source>
        <translation>이름만 소문자로 변경</translation>
    </message>
    <message>
        <source>Change the extension to uppercase</source>
        <translation>확장자만 대문자로 변경</translation>
    </message>
    <message>
        <source>Change the extension to lowercase</source>
        <translation>확장자만 소문자로 변경</translation>
    </message>
    <message>
        <source>Change the first letter to uppercase</source>
        <translation>첫 문자만 대문자로 변경</translation>
    </message>
    <message>
        <source>Find what:</source>
        <translation>찾을 내용</translation>
    </message>
    <message>
        <source>Replace with:</source>
        <translation>바꿀 내용</translation>
    </message>
    <message>
        <source>Case Sensitive</source>
        <translation>대소문자 구분</translation>
    </message>
    <message>
        <source>Normalize unicode (Mac filenames)</source>
        <translation>유니코드 정규화(Mac 파일명)</translation>
    </message>
    <message>
        <source>Date source:</source>
        <translation>날짜 기준:</translation>
    </message>
    <message>
        <source>File modified date</source>
        <translation>파일 수정 날짜</translation>
    </message>
    <message>
        <source>Date taken (photos, videos)</source>
        <translation>찍은 날짜(사진, 동영상)</translation>
    </message>
    <message>
        <source>The date of the date fields and of the sort by time. A file without a date taken uses its modified date.</source>
        <translation>날짜 필드와 시간순 정렬에 쓰는 날짜입니다. 찍은 날짜가 없는 파일은 수정 날짜를 씁니다.</translation>
    </message>
    <message>
        <source>Modified Time</source>
        <translation>파일 수정 날짜</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>크기</translation>
    </message>
    <message>
        <source>Descending</source>
        <translation>내림차순</translation>
    </message>
    <message>
        <source>Sort</source>
        <translation>정렬하기(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Add Files</source>
        <translation>파일 추가(&amp;A)</translation>
    </message>
    <message>
        <source>Add &amp;Folder</source>
        <translation>폴더 추가(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Copy to Clipboard</source>
        <translation>클립보드로 복사하기(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Rename</source>
        <translation>바꾸기(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>종료(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>실행 취소(&amp;U)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>도움말(&amp;H)</translation>
    </message>
    <message>
        <source>Add Files</source>
        <translation>파일 추가</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>모든 파일 (*)</translation>
    </message>
    <message>
        <source>Add all files under the selected folder.</source>
        <translation>선택한 폴더의 하위에 있는 모든 파일을 추가합니다.</translation>
    </message>
    <message>
        <source>Copy the new name to the clipboard.</source>
        <translation>새 이름을 클립보드로 복사합니다.</translation>
    </message>
    <message>
        <source>Renaming...</source>
        <translation>이름을 바꾸고 있습니다...</translation>
    </message>
    <message>
        <source>Do you want to rename all files to the new name?</source>
        <translation>모든 파일의 이름을 새 이름으로 바꾸시겠습니까?</translation>
    </message>
    <message>
        <source>There is already a file with the same name in this location.</source>
        <translation>이 위치에 이름이 같은 파일이 있습니다.</translation>
    </message>
    <message>
        <source>Unable to rename the file.</source>
        <translation>파일 이름을 바꿀 수 없습니다.</translation>
    </message>
    <message>
        <source>The files were renamed, but the record of the run could not be closed. Remove it before the next start, or the next start puts the old names back.</source>
        <translation>파일 이름은 바뀌었지만 작업 기록을 닫지 못했습니다. 다음에 시작하기 전에 기록을 지우십시오. 지우지 않으면 다음 시작 때 이전 이름으로 되돌립니다.</translation>
    </message>
    <message>
        <source>Regular expression</source>
        <translation>정규식</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>프리셋</translation>
    </message>
    <message>
        <source>The regular expression is not valid: %1 (at character %2).</source>
        <translation>정규식이 올바르지 않습니다: %1 (%2번째 문자).</translation>
    </message>
    <message>
        <source>The replacement does not fit the regular expression: %1 (at character %2).</source>
        <translation>바꿀 내용이 정규식과 맞지 않습니다: %1 (%2번째 문자).</translation>
    </message>
    <message>
        <source>Nothing can be renamed with this find and replace.</source>
        <translation>이 찾기와 바꾸기로는 이름을 바꿀 수 없습니다.</translation>
    </message>
    <message>
        <source>The regular expression took too long on %1 of the names, such as %2, and was stopped there. Nothing was renamed.</source>
        <translation>정규식이 %2 등 %1개의 이름에서 너무 오래 걸려 중지되었습니다. 이름을 바꾸지 않았습니다.</translation>
    </message>
    <message>
        <source>The regular expression took too long on some names and was stopped.</source>
        <translation>정규식이 일부 이름에서 너무 오래 걸려 중지되었습니다.</translation>
    </message>
    <message>
        <source>Some files cannot be renamed to their new names. Change the names of the marked rows first.</source>
        <translation>일부 파일은 새 이름으로 바꿀 수 없습니다. 표시된 행의 이름을 먼저 고치세요.</translation>
    </message>
    <message>
        <source>There is nothing to rename: every new name is the old one.</source>
        <translation>바꿀 이름이 없습니다. 모든 새 이름이 이전 이름과 같습니다.</translation>
    </message>
    <message>
        <source>The files are back under their old names, but the rename could not be marked as undone.</source>
        <translation>파일이 이전 이름으로 돌아왔지만, 이름 바꾸기를 취소됨으로 표시할 수 없습니다.</translation>
    </message>
    <message>
        <source>The rename could not be undone; every file is where it was before the undo.</source>
        <translation>이름 바꾸기를 취소할 수 없습니다. 모든 파일은 취소하기 전의 위치에 있습니다.</translation>
    </message>
    <message>
        <source>There is no rename to undo.</source>
        <translation>취소할 이름 바꾸기가 없습니다.</translation>
    </message>
    <message>
        <source>This rename was already undone.</source>
        <translation>이 이름 바꾸기는 이미 취소되었습니다.</translation>
    </message>
    <message>
        <source>This rename is being undone by another program.</source>
        <translation>다른 프로그램이 이 이름 바꾸기를 취소하는 중입니다.</translation>
    </message>
    <message>
        <source>The record of this rename is damaged. Nothing was changed.</source>
        <translation>이 이름 바꾸기의 기록이 손상되었습니다. 아무것도 바뀌지 않았습니다.</translation>
    </message>
    <message>
        <source>A newer rename (number %1) changed some of the same files; undo it first. Nothing was changed.</source>
        <translation>더 최근의 이름 바꾸기(번호 %1)가 같은 파일 중 일부를 바꾸었습니다. 그것을 먼저 취소하세요. 아무것도 바뀌지 않았습니다.</translation>
    </message>
    <message>
        <source>Some files were changed since the rename. Nothing was changed.</source>
        <translation>이름 바꾸기 이후 일부 파일이 바뀌었습니다. 아무것도 바뀌지 않았습니다.</translation>
    </message>
    <message>
        <source>%1 and %2 other folders</source>
        <translation>%1 외 폴더 %2개</translation>
    </message>
    <message>
        <source>Undo the last rename? %1 files in %2 go back to their old names.</source>
        <translation>마지막 이름 바꾸기를 취소할까요? %2의 파일 %1개가 이전 이름으로 돌아갑니다.</translation>
    </message>
</context>
<context>
    <name>morix::ui::CNameRangeDlg</name>
    <message>
        <source>Name Range Selection</source>
        <translation>이름 영역 선택</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>이름:</translation>
    </message>
    <message>
        <source>Start Position:</source>
        <translation>시작 위치:</translation>
    </message>
    <message>
        <source>Length:</source>
        <translation>길이:</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>확인</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>취소</translation>
    </message>
</context>
<context>
    <name>morix::ui::CProgressDlg</name>
    <message>
        <source>&amp;Cancel</source>
        <translation>취소(&amp;C)</translation>
    </message>
</context>
<context>
    <name>morix::ui::CRenameCompleteDlg</name>
    <message>
        <source>Complete</source>
        <translation>완료</translation>
    </message>
    <message>
        <source>Rename files was completed.</source>
        <translation>파일 이름 바꾸기를 완료했습니다.</translation>
    </message>
    <message>
        <source>&amp;Restart</source>
        <translation>다시 시작(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>종료(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>morix::ui::PreviewModel</name>
    <message>
        <source>Old Name</source>
        <translation>이전 이름</translation>
    </message>
    <message>
        <source>New Name</source>
        <translation>새 이름</translation>
    </message>
    <message>
        <source>no capture date: modified time used</source>
        <translation>찍은 날짜 없음: 수정 시각을 사용함</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>위치</translation>
    </message>
    <message>
        <source>The regular expression took too long on this name and was stopped: it is shown without the replacement.</source>
        <translation>정규식이 이 이름에서 너무 오래 걸려 중지되었습니다. 바꾸기 없이 표시됩니다.</translation>
    </message>
</context>
<context>
    <name>morix::ui::PresetMenu</name>
    <message>
        <source>Trelvo Renamer</source>
        <translation>트렐보 리네이머</translation>
    </message>
    <message>
        <source>The presets file %1 cannot be read.</source>
        <translation>프리셋 파일 %1을(를) 읽을 수 없습니다.</translation>
    </message>
    <message>
        <source>Some lines of the presets file %1 cannot be read (lines %2). They are left out, and kept in the file as comments.</source>
        <translation>프리셋 파일 %1의 일부 줄(%2번째 줄)을 읽을 수 없습니다. 이 줄은 제외되며 파일에 주석으로 남습니다.</translation>
    </message>
    <message>
        <source>&amp;Save Current Options as Preset...</source>
        <translation>현재 옵션을 프리셋으로 저장(&amp;S)...</translation>
    </message>
    <message>
        <source>&amp;Rename Preset</source>
        <translation>프리셋 이름 바꾸기(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Delete Preset</source>
        <translation>프리셋 삭제(&amp;D)</translation>
    </message>
    <message>
        <source>Preset name:</source>
        <translation>프리셋 이름:</translation>
    </message>
    <message>
        <source>There is already a preset named %1. Replace it?</source>
        <translation>%1 프리셋이 이미 있습니다. 바꾸시겠습니까?</translation>
    </message>
    <message>
        <source>Delete the preset %1?</source>
        <translation>%1 프리셋을 삭제하시겠습니까?</translation>
    </message>
    <message>
        <source>There is no preset named %1.</source>
        <translation>%1 프리셋이 없습니다.</translation>
    </message>
    <message>
        <source>There is already a preset named %1.</source>
        <translation>%1 프리셋이 이미 있습니다.</translation>
    </message>
    <message>
        <source>A preset needs a name.</source>
        <translation>프리셋에는 이름이 필요합니다.</translation>
    </message>
    <message>
        <source>The presets file %1 cannot be written.</source>
        <translation>프리셋 파일 %1에 쓸 수 없습니다.</translation>
    </message>
</context>
<context>
    <name>morix::ui::RowMarks</name>
    <message>
        <source>Conflict: the new name is taken by a file that is not in the list.</source>
        <translation>충돌: 목록에 없는 파일이 새 이름을 쓰고 있습니다.</translation>
    </message>
    <message>
        <source>Conflict: the new name is taken by a folder that is not in the list.</source>
        <translation>충돌: 목록에 없는 폴더가 새 이름을 쓰고 있습니다.</translation>
    </message>
    <message>
        <source>Conflict: the new name is taken by a link that is not in the list.</source>
        <translation>충돌: 목록에 없는 링크가 새 이름을 쓰고 있습니다.</translation>
    </message>
    <message>
        <source>Conflict: the new name is taken by a file in the list that keeps its name.</source>
        <translation>충돌: 이름이 바뀌지 않는 목록의 파일이 새 이름을 쓰고 있습니다.</translation>
    </message>
    <message>
        <source>Conflict: another row has the same new name.</source>
        <translation>충돌: 다른 행의 새 이름과 같습니다.</translation>
    </message>
    <message>
        <source>Conflict: the folder cannot be read, so the new name cannot be checked.</source>
        <translation>충돌: 폴더를 읽을 수 없어서 새 이름을 확인할 수 없습니다.</translation>
    </message>
    <message>
        <source>Impossible name: &quot;.&quot; and &quot;..&quot; are not file names.</source>
        <translation>쓸 수 없는 이름: &quot;.&quot;과 &quot;..&quot;은 파일 이름이 아닙니다.</translation>
    </message>
    <message>
        <source>Impossible name: longer than 255 bytes.</source>
        <translation>쓸 수 없는 이름: 255바이트보다 깁니다.</translation>
    </message>
    <message>
        <source>Impossible name: longer than 255 characters.</source>
        <translation>쓸 수 없는 이름: 255자보다 깁니다.</translation>
    </message>
    <message>
        <source>Impossible name: this volume drops a dot at the end of a name.</source>
        <translation>쓸 수 없는 이름: 이 볼륨은 이름 끝의 점을 없앱니다.</translation>
    </message>
    <message>
        <source>Impossible name: this volume holds no control characters in a name.</source>
        <translation>쓸 수 없는 이름: 이 볼륨은 이름에 제어 문자를 담을 수 없습니다.</translation>
    </message>
    <message>
        <source>Impossible name: this volume holds no space at the end of a name.</source>
        <translation>쓸 수 없는 이름: 이 볼륨은 이름 끝에 공백을 담을 수 없습니다.</translation>
    </message>
    <message>
        <source>Impossible name: this volume holds no bytes that are not UTF-8 in a name.</source>
        <translation>쓸 수 없는 이름: 이 볼륨은 이름에 UTF-8이 아닌 바이트를 담을 수 없습니다.</translation>
    </message>
    <message>
        <source>%1 conflict</source>
        <translation>충돌 %1개</translation>
    </message>
    <message>
        <source>%1 conflicts</source>
        <translation>충돌 %1개</translation>
    </message>
    <message>
        <source>%1 impossible name</source>
        <translation>쓸 수 없는 이름 %1개</translation>
    </message>
    <message>
        <source>%1 impossible names</source>
        <translation>쓸 수 없는 이름 %1개</translation>
    </message>
    <message>
        <source>%1 unchanged</source>
        <translation>변경 없음 %1개</translation>
    </message>
    <message>
        <source>%1 file</source>
        <translation>파일 %1개</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>파일 %1개</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%2 중 %1</translation>
    </message>
    <message>
        <source>… and %1 more</source>
        <translation>… 외 %1개</translation>
    </message>
</context>
<context>
    <name>morix::ui::RecoveryMessage</name>
    <message>
        <source>The journal %1 of an interrupted rename cannot be read (%2). No file was touched. It is kept until you have checked the files it names and removed it.</source>
        <translation>중단된 이름 바꾸기의 기록 %1을(를) 읽을 수 없습니다(%2). 어떤 파일도 건드리지 않았습니다. 기록에 적힌 파일을 확인한 뒤 직접 지울 때까지 기록은 그대로 남습니다.</translation>
    </message>
    <message>
        <source>The journals of interrupted renames in %1 cannot be read (%2). A rename that was cut short cannot be rolled back now; the next start tries again.</source>
        <translation>%1에 있는 중단된 이름 바꾸기의 기록을 읽을 수 없습니다(%2). 중단된 이름 바꾸기를 지금은 되돌릴 수 없습니다. 다음에 시작할 때 다시 시도합니다.</translation>
    </message>
    <message>
        <source>The journal %1 of an interrupted rename cannot be opened or read now (%2). No file was touched; the next start tries again.</source>
        <translation>중단된 이름 바꾸기의 기록 %1을(를) 지금은 열거나 읽을 수 없습니다(%2). 어떤 파일도 건드리지 않았습니다. 다음에 시작할 때 다시 시도합니다.</translation>
    </message>
    <message>
        <source> (now %1)</source>
        <translation> (현재 %1)</translation>
    </message>
    <message>
        <source>... and %1 more</source>
        <translation>... 외 %1개</translation>
    </message>
    <message>
        <source>An interrupted rename could not be rolled back completely. These files are not under their old names:
%1
Its journal is kept at %2; the next start tries again.</source>
        <translation>중단된 이름 바꾸기를 완전히 되돌리지 못했습니다. 다음 파일은 원래 이름으로 돌아가지 않았습니다:
%1
기록은 %2에 남아 있으며, 다음에 시작할 때 다시 시도합니다.</translation>
    </message>
    <message>
        <source>An interrupted rename has been rolled back. Files returned to their old names: %1.</source>
        <translation>중단된 이름 바꾸기를 되돌렸습니다. 원래 이름으로 돌아간 파일: %1개.</translation>
    </message>
</context>
</TS>
