<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Quillberry</name>
    <message>
        <source>验证全部</source>
        <translation>Verify all</translation>
    </message>
    <message>
        <source>验证选定</source>
        <translation>Verify selected</translation>
    </message>
    <message>
        <source>设为IE代理</source>
        <translation>Set system proxy</translation>
    </message>
    <message>
        <source>取消IE代理</source>
        <translation>Cancel system proxy</translation>
    </message>
    <message>
        <source>添加代理</source>
        <translation>Add proxy</translation>
    </message>
    <message>
        <source>修改选定</source>
        <translation>Edit selected</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>清理</source>
        <translation>Clean</translation>
    </message>
    <message>
        <source>导入</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>导出选定</source>
        <translation>Export selected</translation>
    </message>
    <message>
        <source>【设置】</source>
        <translation>[Settings]</translation>
    </message>
    <message>
        <source>▲下载代理资源</source>
        <translation>▲Download proxies</translation>
    </message>
    <message>
        <source>添加资源</source>
        <translation>Add source</translation>
    </message>
    <message>
        <source>修改资源</source>
        <translation>Edit source</translation>
    </message>
    <message>
        <source>删除资源</source>
        <translation>Delete source</translation>
    </message>
    <message>
        <source>代理列表:</source>
        <translation>Proxy list:</translation>
    </message>
    <message>
        <source>获取代理网址:</source>
        <translation>Proxy sources:</translation>
    </message>
    <message>
        <source>菜单：收藏的代理、关于、退出</source>
        <translation>Menu: favourite proxies, about, exit</translation>
    </message>
    <message>
        <source>验证中...</source>
        <translation>Verifying...</translation>
    </message>
    <message>
        <source>新增 %1 个，重复 %2 个</source>
        <translation>%1 added, %2 duplicates</translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）1.8</source>
        <translation>Ostrel Proxy Verifier (Quillberry) 1.8</translation>
    </message>
    <message>
        <source>尚有线程在运行，请等现有的线程停止后再退出。
不再启动新的线程，停止中...</source>
        <translation>Verification threads are still running; please wait for them to stop before exiting.
No new threads are started; stopping...</translation>
    </message>
    <message>
        <source>退出警告</source>
        <translation>Exit warning</translation>
    </message>
    <message>
        <source>无法确定数据目录：</source>
        <translation>Cannot determine the data directory: </translation>
    </message>
    <message>
        <source>数据目录 %1 正在被 %2 写入。

请等它结束后再启动 Quillberry。</source>
        <translation>The data directory %1 is being written by %2.

Please start Quillberry again when it has finished.</translation>
    </message>
    <message>
        <source>Quillberry 已经在运行，它打开的数据目录是：
%1

这次启动要求的数据目录是：
%2

请先退出正在运行的程序，再用该目录启动。</source>
        <translation>Quillberry is already running with the data directory:
%1

This start asked for the data directory:
%2

Please exit the running program first, then start it with that directory.</translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）</source>
        <translation>Ostrel Proxy Verifier (Quillberry)</translation>
    </message>
    <message>
        <source> 验证中...</source>
        <translation> verifying...</translation>
    </message>
    <message>
        <source>添加菜单项</source>
        <translation>Add menu item</translation>
    </message>
    <message>
        <source>请选择常用代理（要打勾）</source>
        <translation>Choose favourite proxies (tick them)</translation>
    </message>
    <message>
        <source>未验证</source>
        <translation>Not verified</translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation>Connection failed</translation>
    </message>
    <message>
        <source>超时</source>
        <translation>Timed out</translation>
    </message>
    <message>
        <source>不匹配</source>
        <translation>Mismatch</translation>
    </message>
    <message>
        <source>密码不匹配</source>
        <translation>Password mismatch</translation>
    </message>
    <message>
        <source>不支持此协议</source>
        <translation>Protocol not supported</translation>
    </message>
    <message>
        <source>验证异常</source>
        <translation>Verification error</translation>
    </message>
    <message>
        <source>            从文件中找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation>No valid proxy was found in the file.
Note: only this proxy format is read:
address:port@type$time or status#remark
(the four signs : @ $ # keep this order)
For example: 61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#unstable-proxy
For other formats, turn on fuzzy matching.</translation>
    </message>
    <message>
        <source>          从粘贴板中找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation>No valid proxy was found on the clipboard.
Note: only this proxy format is read:
address:port@type$time or status#remark
(the four signs : @ $ # keep this order)
For example: 61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#unstable-proxy
For other formats, turn on fuzzy matching.</translation>
    </message>
    <message>
        <source>下载超时、网页地址不对或找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation>The download timed out, the address is wrong, or no valid proxy was found.
Note: only this proxy format is read:
address:port@type$time or status#remark
(the four signs : @ $ # keep this order)
For example: 61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#unstable-proxy
For other formats, turn on fuzzy matching.</translation>
    </message>
    <message>
        <source>导入完毕</source>
        <translation>Import finished</translation>
    </message>
    <message>
        <source>粘贴完毕</source>
        <translation>Paste finished</translation>
    </message>
    <message>
        <source>下载异常: </source>
        <translation>Download failed: </translation>
    </message>
    <message>
        <source>这个代理服务器已经存在列表中</source>
        <translation>This proxy server is already in the list</translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation>Input error</translation>
    </message>
    <message>
        <source>代理服务器类型错误。</source>
        <translation>The proxy type is wrong.</translation>
    </message>
    <message>
        <source>代理服务器地址错误。</source>
        <translation>The proxy address is wrong.</translation>
    </message>
    <message>
        <source>端口不能小于0，也不能大于65535。</source>
        <translation>The port must be from 0 to 65535.</translation>
    </message>
    <message>
        <source>备注栏不能有分隔符：:、@、$、#、&lt;、&gt;、Tab和空格。</source>
        <translation>The note must not contain the separators : @ $ # &lt; &gt;, tabs or blanks.</translation>
    </message>
    <message>
        <source>确实要删除选定的代理吗？删除数据后不能恢复！</source>
        <translation>Delete the selected proxies? Deleted rows cannot be restored!</translation>
    </message>
    <message>
        <source>删除选定</source>
        <translation>Delete selected</translation>
    </message>
    <message>
        <source>确实要删除“连接失败”、“不匹配”和“超时”的代理吗？
删除数据后不能恢复！有些代理过段时间可能还可以用。</source>
        <translation>Delete the proxies marked &quot;Connection failed&quot;, &quot;Mismatch&quot; and &quot;Timed out&quot;?
Deleted rows cannot be restored! Some proxies may work again later.</translation>
    </message>
    <message>
        <source>打开文件失败！</source>
        <translation>Could not open the file!</translation>
    </message>
    <message>
        <source>导入列表</source>
        <translation>Import list</translation>
    </message>
    <message>
        <source>存盘</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>没有选择代理！可以用Shift/Ctrl键 + 鼠标左键一次选择多个代理。</source>
        <translation>No proxy is selected! Shift/Ctrl + left click selects several proxies at once.</translation>
    </message>
    <message>
        <source>[常用]类型</source>
        <translation>[Fav] Type</translation>
    </message>
    <message>
        <source>服务器地址</source>
        <translation>Server address</translation>
    </message>
    <message>
        <source>端口    </source>
        <translation>Port    </translation>
    </message>
    <message>
        <source>时间(s)/状态    </source>
        <translation>Time (s)/Status    </translation>
    </message>
    <message>
        <source>－备注－</source>
        <translation>– Note –</translation>
    </message>
    <message>
        <source>没有验证资源，将自动装载缺省设置。</source>
        <translation>There are no verification resources; the default ones are loaded.</translation>
    </message>
    <message>
        <source>验证资源错误</source>
        <translation>Verification resource error</translation>
    </message>
    <message>
        <source>验证资源名称不能为空。</source>
        <translation>The resource name must not be empty.</translation>
    </message>
    <message>
        <source>验证资源名称不能含有字符@和%。</source>
        <translation>The resource name must not contain @ or %.</translation>
    </message>
    <message>
        <source>验证资源网址不能为空。</source>
        <translation>The resource address must not be empty.</translation>
    </message>
    <message>
        <source>请添加协议头http://或ftp://。</source>
        <translation>Please begin the address with http:// or ftp://.</translation>
    </message>
    <message>
        <source>验证特征串不能为空。</source>
        <translation>The feature string must not be empty.</translation>
    </message>
    <message>
        <source>[验证]资源名称</source>
        <translation>[Use] Resource name</translation>
    </message>
    <message>
        <source>验证资源网址</source>
        <translation>Resource address</translation>
    </message>
    <message>
        <source>特征字符串</source>
        <translation>Feature string</translation>
    </message>
    <message>
        <source>已经存在该验证资源网址。</source>
        <translation>This resource address is already in the list.</translation>
    </message>
    <message>
        <source>验证资源重复</source>
        <translation>Duplicate resource</translation>
    </message>
    <message>
        <source>确实要删除选定的验证资源吗？</source>
        <translation>Delete the selected verification resources?</translation>
    </message>
    <message>
        <source>验证资源</source>
        <translation>Verification resources</translation>
    </message>
    <message>
        <source>没有验证资源要存盘。</source>
        <translation>There are no verification resources to save.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>网页地址</source>
        <translation>Page address</translation>
    </message>
    <message>
        <source>确实要删除选定的资源吗？</source>
        <translation>Delete the selected sources?</translation>
    </message>
    <message>
        <source>名称不能为空或含空格符。</source>
        <translation>The name must not be empty or contain blanks.</translation>
    </message>
    <message>
        <source>网页地址不能为空或含空格符。</source>
        <translation>The page address must not be empty or contain blanks.</translation>
    </message>
    <message>
        <source>网页超过了下载的大小上限，只读取了上限以内的完整行。</source>
        <translation>The page is larger than the download limit; only the whole lines within the limit were read.</translation>
    </message>
    <message>
        <source>网页中的代理超过了每个网页 %d 个的上限，只添加了前 %d 个。</source>
        <translation>The page holds more proxies than the limit of %d per page; only the first %d were added.</translation>
    </message>
    <message>
        <source>下载资源</source>
        <translation>Download sources</translation>
    </message>
    <message>
        <source>没有下载资源，请先添加。</source>
        <translation>There are no proxy sources; please add one first.</translation>
    </message>
    <message>
        <source>没有选择下载资源，请打勾。</source>
        <translation>No proxy source is chosen; please tick one.</translation>
    </message>
    <message>
        <source>网页被截断: </source>
        <translation>Page cut: </translation>
    </message>
    <message>
        <source>获取IE代理</source>
        <translation>Read system proxy</translation>
    </message>
    <message>
        <source>创建自动代理脚本失败！</source>
        <translation>Could not create the proxy auto-config script!</translation>
    </message>
    <message>
        <source>创建</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>打开用户自定义代理自动配置模板失败！</source>
        <translation>Could not open the custom proxy auto-config template!</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>设置代理失败！</source>
        <translation>Could not set the proxy!</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>桌面没有保存该设置：没有会话总线或设置服务保存它。</source>
        <translation>The desktop did not keep the setting: no session bus or settings service stores it.</translation>
    </message>
    <message>
        <source>代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。</source>
        <translation> proxies have no desktop proxy setting in the direct mode; the proxy setting was not changed.</translation>
    </message>
    <message>
        <source>Quillberry 开发组 出品</source>
        <translation>Made by the Quillberry developers</translation>
    </message>
    <message>
        <source>每一个代理，都要亲自验过；
每一次切换，只需轻点两下。</source>
        <translation>Every proxy verified by hand;
every switch just two clicks away.</translation>
    </message>
    <message>
        <source>关于 Ostrel代理验证（Quillberry）</source>
        <translation>About Ostrel Proxy Verifier (Quillberry)</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>打开设置文件失败！</source>
        <translation>Could not open the settings file!</translation>
    </message>
    <message>
        <source>初始化</source>
        <translation>Start-up</translation>
    </message>
    <message>
        <source>该代理上次验证失败，仍然设为系统代理吗？</source>
        <translation>This proxy failed its last verification. Make it the system proxy anyway?</translation>
    </message>
    <message>
        <source>Quillberry 开发组</source>
        <translation>The Quillberry developers</translation>
    </message>
    <message>
        <source>帮助（%1）</source>
        <translation>Help (%1)</translation>
    </message>
    <message>
        <source>在代理列表中点击鼠标右键</source>
        <translation>Right click in the proxy list</translation>
    </message>
    <message>
        <source>复制代理 (&amp;C) </source>
        <translation>&amp;Copy proxy </translation>
    </message>
    <message>
        <source>设为IE代理 (&amp;S) </source>
        <translation>&amp;Set as system proxy </translation>
    </message>
    <message>
        <source>验证选定 (&amp;V) </source>
        <translation>&amp;Verify selected </translation>
    </message>
    <message>
        <source>修改选定 (&amp;M) </source>
        <translation>&amp;Edit selected </translation>
    </message>
    <message>
        <source>删除选定 (&amp;D) </source>
        <translation>&amp;Delete selected </translation>
    </message>
    <message>
        <source>全选 (&amp;A)</source>
        <translation>Select &amp;all</translation>
    </message>
    <message>
        <source>托盘菜单</source>
        <translation>Tray menu</translation>
    </message>
    <message>
        <source>关于『Ostrel代理验证』</source>
        <translation>About Ostrel Proxy Verifier</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>弹出对话框</source>
        <translation>Show window</translation>
    </message>
    <message>
        <source>代理信息</source>
        <translation>Proxy</translation>
    </message>
    <message>
        <source>协议:</source>
        <translation>Type:</translation>
    </message>
    <message>
        <source>服务器地址:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>服务端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>备注:</source>
        <translation>Note:</translation>
    </message>
    <message>
        <source>代理资源</source>
        <translation>Proxy source</translation>
    </message>
    <message>
        <source>名称：</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>网页地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>数值范围不对</source>
        <translation>Value out of range</translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>2.使用最简单的代理自动配置脚本</source>
        <translation>2. Use the simple auto-config script</translation>
    </message>
    <message>
        <source>3.使用自定义的代理自动配置脚本</source>
        <translation>3. Use a custom auto-config script</translation>
    </message>
    <message>
        <source>编辑自定义的代理自动配置模板</source>
        <translation>Edit the custom template</translation>
    </message>
    <message>
        <source>上网方式</source>
        <translation>Connection mode</translation>
    </message>
    <message>
        <source>添加验证</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>修改验证</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>删除验证</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>验证参数</source>
        <translation>Verification</translation>
    </message>
    <message>
        <source>连接超时时间:</source>
        <translation>Con. timeout:</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>验证超时时间:</source>
        <translation>Verify timeout:</translation>
    </message>
    <message>
        <source>并发线程数目:</source>
        <translation>Threads:</translation>
    </message>
    <message>
        <source>个</source>
        <translation> </translation>
    </message>
    <message>
        <source>自动选择速度最快的</source>
        <translation>Make the fastest</translation>
    </message>
    <message>
        <source>每隔3小时自动验证全部代理</source>
        <translation>Verify all every 3 hours</translation>
    </message>
    <message>
        <source>用户登录计算机后自动启动</source>
        <translation>Start when I log in</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>启动时最小化</source>
        <translation>Start minimised</translation>
    </message>
    <message>
        <source>个代理为常用代理</source>
        <translation>proxies favourites</translation>
    </message>
    <message>
        <source>启用模糊匹配抓取代理</source>
        <translation>Find proxies by fuzzy matching</translation>
    </message>
    <message>
        <source>连接超时时间应在1~15！</source>
        <translation>The connect timeout must be from 1 to 15!</translation>
    </message>
    <message>
        <source>验证超时时间应在1~30！</source>
        <translation>The verify timeout must be from 1 to 30!</translation>
    </message>
    <message>
        <source>验证线程数目应在1~100！</source>
        <translation>The number of threads must be from 1 to 100!</translation>
    </message>
    <message>
        <source>常用代理数目应在1~15！</source>
        <translation>The number of favourites must be from 1 to 15!</translation>
    </message>
    <message>
        <source>没有能打开模板文件的程序。

模板文件是：
%1

要把它的路径复制到剪贴板，用其他编辑器打开吗？</source>
        <translation>No program can open the template file.

The template file is:
%1

Copy its path to the clipboard, to open it with another editor?</translation>
    </message>
    <message>
        <source>编辑模板</source>
        <translation>Edit template</translation>
    </message>
    <message>
        <source>故障转移：脚本列出全部常用代理</source>
        <translation>Failover: the script lists all favourites</translation>
    </message>
    <message>
        <source>验证结果</source>
        <translation>Verification result</translation>
    </message>
    <message>
        <source>验证资源信息</source>
        <translation>Verification resource</translation>
    </message>
    <message>
        <source>验证资源名称：</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>验证资源网址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>特征字符串：</source>
        <translation>Feature:</translation>
    </message>
    <message>
        <source>停止验证</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>停止中...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>...停止中</source>
        <translation>...stopping</translation>
    </message>
    <message>
        <source>空列表，没有要验证的代理。</source>
        <translation>The list is empty: there is no proxy to verify.</translation>
    </message>
    <message>
        <source>没有选择要验证的代理！</source>
        <translation>No proxy to verify is selected!</translation>
    </message>
    <message>
        <source>没有设定http验证资源，无法验证http代理服务器。</source>
        <translation>No http verification resource is set: http proxies cannot be verified.</translation>
    </message>
    <message>
        <source>没有设定ftp验证资源，无法验证ftp代理服务器。
请进入设置在ftp验证资源前打勾。继续吗？</source>
        <translation>No ftp verification resource is set: ftp proxies cannot be verified.
Tick an ftp resource in the settings. Continue?</translation>
    </message>
    <message>
        <source>创建验证线程中发生异常</source>
        <translation>Could not start a verification thread</translation>
    </message>
    <message>
        <source>验证失败</source>
        <translation>Verification failed</translation>
    </message>
    <message>
        <source>请耐心等待验证的完成</source>
        <translation>Please wait for the verification to finish</translation>
    </message>
    <message>
        <source>等待验证完成</source>
        <translation>Waiting for the verification</translation>
    </message>
    <message>
        <source>验证状态：</source>
        <translation>Status: </translation>
    </message>
    <message>
        <source>地址无效    (%s)</source>
        <translation>Invalid address    (%s)</translation>
    </message>
    <message>
        <source>连接站点%d    (%s)</source>
        <translation>Connecting to site %d    (%s)</translation>
    </message>
    <message>
        <source>异常错误</source>
        <translation>Unexpected error</translation>
    </message>
    <message>
        <source>可用(%.1f)</source>
        <translation>Available (%.1f)</translation>
    </message>
    <message>
        <source>不匹配(%.1f)</source>
        <translation>Mismatch (%.1f)</translation>
    </message>
    <message>
        <source>无法连接代理</source>
        <translation>Cannot reach the proxy</translation>
    </message>
    <message>
        <source>代理连接失败</source>
        <translation>Proxy connection failed</translation>
    </message>
    <message>
        <source>密码错误</source>
        <translation>Wrong password</translation>
    </message>
    <message>
        <source>代理响应超时</source>
        <translation>The proxy timed out</translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System</translation>
    </message>
    <message>
        <source>界面语言将在下次启动时更改。</source>
        <translation>The interface language changes at the next start.</translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation>Interface language</translation>
    </message>
    <message>
        <source>有密码时用户名不能为空；用户名和密码不能含有控制字符。</source>
        <translation>A password needs a user name; neither may contain control characters.</translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>密码:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>该代理需要用户名和密码，但在当前的上网方式下桌面的代理设置无法保存它们（只有直接设置的HTTP代理可以），代理设置未作更改。</source>
        <translation>This proxy needs a user name and password, which the desktop keeps only for an HTTP proxy set directly; the proxy setting was not changed.</translation>
    </message>
    <message>
        <source>选定的代理中有 %1 个带有用户名和密码。
导出的文件中也包含它们吗？</source>
        <translation>%1 of the selected proxies have a user name and password.
Include them in the exported file?</translation>
    </message>
    <message>
        <source>，无法识别 %1 行</source>
        <translation>, %1 lines not recognised</translation>
    </message>
    <message>
        <source>本机端口</source>
        <translation>Local port</translation>
    </message>
    <message>
        <source>本机端口无法启动。</source>
        <translation>The local port could not be started.</translation>
    </message>
    <message>
        <source>系统代理正经由本机端口。关闭本机端口后，使用系统代理的程序将无法上网。
仍要关闭吗？</source>
        <translation>The system proxy goes through the local port. With the local port closed, programs that use the system proxy cannot reach the internet.
Close it anyway?</translation>
    </message>
    <message>
        <source>保存选项文件失败！</source>
        <translation>Saving the options file failed!</translation>
    </message>
    <message>
        <source>列表中还没有验证可用的代理，本机端口暂时无法转发连接。</source>
        <translation>The list has no proxy that passed verification yet, so the local port cannot carry connections for now.</translation>
    </message>
    <message>
        <source>本机端口 %1</source>
        <translation>Local port %1</translation>
    </message>
    <message>
        <source>本机端口（未开启）</source>
        <translation>Local port (off)</translation>
    </message>
    <message>
        <source>经由本机端口</source>
        <translation>Through the local port</translation>
    </message>
    <message>
        <source>本机端口:</source>
        <translation>Local port:</translation>
    </message>
    <message>
        <source>策略:</source>
        <translation>Policy:</translation>
    </message>
    <message>
        <source>故障转移</source>
        <translation>Failover</translation>
    </message>
    <message>
        <source>轮流使用</source>
        <translation>Round-robin</translation>
    </message>
    <message>
        <source>最快优先</source>
        <translation>Fastest</translation>
    </message>
    <message>
        <source>本机端口应写作 地址:端口，例如 127.0.0.1:8899！</source>
        <translation>Write the local port as address:port, for example 127.0.0.1:8899!</translation>
    </message>
    <message>
        <source>本机端口的地址不是本机回环地址，网络上的其他计算机也能经由它使用你的代理。
确定吗？</source>
        <translation>The local port&apos;s address is not a loopback address: other computers on the network can use your proxies through it.
Are you sure?</translation>
    </message>
    <message>
        <source>    匿名程度：%1    出口地址：%2</source>
        <translation>    Anonymity: %1    Exit address: %2</translation>
    </message>
    <message>
        <source>透明</source>
        <translation>transparent</translation>
    </message>
    <message>
        <source>匿名</source>
        <translation>anonymous</translation>
    </message>
    <message>
        <source>高匿</source>
        <translation>elite</translation>
    </message>
    <message>
        <source>验证历史</source>
        <translation>Verification history</translation>
    </message>
    <message>
        <source>验证历史数据库已损坏或无法读取，已改名为 %1 并重建一个空的历史。</source>
        <translation>The verification history database was damaged or unreadable. It was renamed to %1 and an empty history was created.</translation>
    </message>
    <message>
        <source>无法建立验证历史数据库 %1，本次不记录验证历史。</source>
        <translation>Cannot create the verification history database %1; results are not recorded this time.</translation>
    </message>
    <message>
        <source>在线率</source>
        <translation>Uptime</translation>
    </message>
    <message>
        <source>中位时间</source>
        <translation>Median time</translation>
    </message>
    <message>
        <source>匿名度</source>
        <translation>Anonymity</translation>
    </message>
    <message>
        <source>出口地址</source>
        <translation>Exit address</translation>
    </message>
    <message>
        <source>国家</source>
        <translation>Country</translation>
    </message>
    <message>
        <source>位置数据库...</source>
        <translation>Location databases...</translation>
    </message>
    <message>
        <source>位置数据库</source>
        <translation>Location databases</translation>
    </message>
    <message>
        <source>代理的所在地依次查自：数据目录中的 wry.dll；数据目录中的 .mmdb 文件（MaxMind 格式，例如 db-ip.com 免费的 IP to City Lite / IP to Country Lite，或 MaxMind 的 GeoLite2，需自行下载）；系统的国家数据库（/usr/share/GeoIP，Debian 的 geoip-database 软件包）。
本程序从不自行下载。要使用 .mmdb 文件，请把它放进数据目录：</source>
        <translation>A proxy&apos;s location is looked up in turn in: wry.dll in the data directory; .mmdb files in the data directory (MaxMind&apos;s format, for example the free IP to City Lite / IP to Country Lite of db-ip.com, or MaxMind&apos;s GeoLite2, which you download yourself); the system&apos;s country database (/usr/share/GeoIP, Debian&apos;s geoip-database package).
This program never downloads one. To use an .mmdb file, put it into the data directory:</translation>
    </message>
    <message>
        <source>Proxies.pro 中有 %1 行不是代理，已另存于 %2</source>
        <translation>%1 lines of Proxies.pro hold no proxy; they were kept in %2</translation>
    </message>
    <message>
        <source>验证历史数据库已损坏，已改名为 %1；其中仍可读出的 %2 个结果已复制到新的历史中。</source>
        <translation>The verification history was damaged and was renamed %1; the %2 results that could still be read were copied into a new history.</translation>
    </message>
    <message>
        <source>验证历史数据库 %1 正被另一个程序占用，本次不记录验证历史。</source>
        <translation>The verification history %1 is held by another program; this session&apos;s results are not recorded.</translation>
    </message>
    <message>
        <source>磁盘已满，无法写入验证历史数据库 %1，本次不记录验证历史。</source>
        <translation>The disk is full: the verification history %1 cannot be written; this session&apos;s results are not recorded.</translation>
    </message>
    <message>
        <source>本次验证有 %1 个结果没有记入验证历史 %2：%3</source>
        <translation>%1 results of this run were not recorded in the verification history %2: %3</translation>
    </message>
    <message>
        <source>它正被另一个程序占用</source>
        <translation>it is held by another program</translation>
    </message>
    <message>
        <source>磁盘已满</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>它已损坏</source>
        <translation>it is damaged</translation>
    </message>
    <message>
        <source>它无法读写</source>
        <translation>it cannot be read or written</translation>
    </message>
    <message>
        <source>原来的 Setting.dat 已另存为 %1。</source>
        <translation>The former Setting.dat was kept as %1.</translation>
    </message>
    <message>
        <source>网络库初始化失败。</source>
        <translation>The network library could not be initialised.</translation>
    </message>
    <message>
        <source>&lt;IE: </source>
        <translation>&lt;System proxy: </translation>
    </message>
    <message>
        <source> IE: </source>
        <translation> System proxy: </translation>
    </message>
    <message>
        <source>无法记下桌面原来的代理设置，取消代理时可能无法恢复它。</source>
        <translation>The desktop&apos;s earlier proxy setting could not be recorded; cancelling the proxy may not give it back.</translation>
    </message>
    <message>
        <source>代理失效时</source>
        <translation>When the proxy fails</translation>
    </message>
    <message>
        <source>当本程序设置的代理无法再工作时（退出、崩溃、全部代理失效），系统代理该怎么办？

是：改为直接连接。您原来的设置恢复，程序照常上网，但不经过代理，会暴露本机地址。
否：阻断。不经代理什么也不发出，使用系统代理的程序将无法上网，直到代理恢复。

以后可在设置中更改。</source>
        <translation>When the proxy this program set can no longer work (exit, crash, every proxy down), what should the system proxy do?

Yes: go direct. Your earlier setting comes back and programs keep working, but without a proxy: sites see this computer&apos;s address.
No: block. Nothing leaves without a proxy; programs that use the system proxy fail until a proxy works again.

You can change this in the settings later.</translation>
    </message>
    <message>
        <source>系统代理正经由本机端口，退出后本机端口随之关闭，使用系统代理的程序将全部无法上网，直到再次启动本程序或更改系统代理。

要先恢复您原来的系统代理设置再退出吗？
是：恢复后退出。否：保持阻断并退出。</source>
        <translation>The system proxy goes through the local endpoint, which closes when the program exits: every program that uses the system proxy will fail until this program runs again or the system proxy is changed.

Give the system proxy back your earlier setting before exiting?
Yes: give it back, then exit. No: stay blocked and exit.</translation>
    </message>
    <message>
        <source>系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。
已按您的选择恢复原来的系统代理设置。</source>
        <translation>The system proxy still pointed at %1 of this program, where nothing answers any more (the program did not exit normally last time).
As you chose, your earlier system proxy setting was given back.</translation>
    </message>
    <message>
        <source>系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。
按您的选择（阻断），系统代理保持不变：使用它的程序将无法上网，直到代理恢复或取消系统代理。</source>
        <translation>The system proxy still points at %1 of this program, where nothing answers any more (the program did not exit normally last time).
As you chose (block), the system proxy stays as it is: programs that use it fail until the proxy works again or the system proxy is cancelled.</translation>
    </message>
    <message>
        <source>另一个程序更改了系统代理，它已不再使用本程序设置的 %1。

要重新设置吗？选“否”则保留对方的设置。</source>
        <translation>Another program changed the system proxy: it no longer uses %1, which this program set.

Set it again? No keeps the other program&apos;s setting.</translation>
    </message>
    <message>
        <source>系统代理</source>
        <translation>System proxy</translation>
    </message>
    <message>
        <source>不使用代理（直接连接）</source>
        <translation>No proxy (direct connection)</translation>
    </message>
    <message>
        <source>经由代理 %1</source>
        <translation>Through the proxy %1</translation>
    </message>
    <message>
        <source>经由本机端口 %1</source>
        <translation>Through the local endpoint %1</translation>
    </message>
    <message>
        <source>使用代理自动配置脚本（%1）</source>
        <translation>Through the proxy auto-config script (%1)</translation>
    </message>
    <message>
        <source>%1 已无应答，使用系统代理的程序可能无法上网。</source>
        <translation>%1 no longer answers; programs that use the system proxy may fail.</translation>
    </message>
    <message>
        <source>本机端口可用的代理只剩 %1 个（少于 %2 个）。</source>
        <translation>The local endpoint has only %1 usable proxies left (fewer than %2).</translation>
    </message>
    <message>
        <source>验证完成</source>
        <translation>Verification finished</translation>
    </message>
    <message>
        <source>%1 个代理中 %2 个可用，用时 %3 秒。</source>
        <translation>%2 of %1 proxies work; it took %3 seconds.</translation>
    </message>
    <message>
        <source>1.直接设置或取消代理（写入桌面的代理设置）</source>
        <translation>1. Set the proxy directly (desktop proxy settings)</translation>
    </message>
    <message>
        <source>代理失效时改为直接连接（会暴露本机地址）</source>
        <translation>Go direct if the proxy fails (shows your address)</translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry） %1版(Build: %2)</source>
        <translation>Ostrel Proxy Verifier (Quillberry) version %1 (Build: %2)</translation>
    </message>
    <message>
        <source>自由软件，依照 GPL-3.0-or-later 发布，不提供任何担保。</source>
        <translation>Free software under GPL-3.0-or-later, with no warranty.</translation>
    </message>
    <message>
        <source>欢迎使用 Quillberry</source>
        <translation>Welcome to Quillberry</translation>
    </message>
    <message>
        <source>Quillberry 收集公共代理服务器，验证哪些今天可以用，并把其中一个设为桌面的系统代理（也可以从托盘菜单切换）。</source>
        <translation>Quillberry gathers public proxy servers, verifies which of them work today, and makes one of them the desktop&apos;s system proxy (switchable from the tray menu too).</translation>
    </message>
    <message>
        <source>主要的工作只有三步：</source>
        <translation>The main job takes three steps:</translation>
    </message>
    <message>
        <source>1. 复制一份代理列表，按“%1”（也可以导入文件，或从列表下方的代理网址下载）。</source>
        <translation>1. Copy a proxy list and press &quot;%1&quot; (or import a file, or download from the proxy sources below the list).</translation>
    </message>
    <message>
        <source>2. 按“%1”：每个代理都通过它去取验证资源的网页来检验，列表按速度排序。</source>
        <translation>2. Press &quot;%1&quot;: each proxy is checked by fetching the verification resource&apos;s page through it, and the list is sorted by speed.</translation>
    </message>
    <message>
        <source>3. 选中一个最快的代理，把它设为系统代理（列表右边的按钮，或托盘菜单里的常用代理）。</source>
        <translation>3. Select one of the fastest proxies and make it the system proxy (the buttons right of the list, or the favourites in the tray menu).</translation>
    </message>
    <message>
        <source>缺省的验证资源访问这些公共网站：%1。在【设置】中可以换成自己的验证资源。</source>
        <translation>The default verification resources reach these public sites: %1. In Settings you can replace them with your own.</translation>
    </message>
    <message>
        <source>下面两项会改动你的系统，已按缺省设置选好，请确认：</source>
        <translation>These two choices change your system; they are set to the defaults, please confirm:</translation>
    </message>
    <message>
        <source>以后启动时程序最小化到通知区域（托盘），单击托盘图标即可打开窗口。</source>
        <translation>Later starts go to the notification area (tray); click the tray icon to open the window.</translation>
    </message>
    <message>
        <source>这些都可以随时在【设置】中更改。</source>
        <translation>All of this can be changed in Settings at any time.</translation>
    </message>
    <message>
        <source>开始使用</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>确实要删除选定的 %1 个代理吗？删除数据后不能恢复！</source>
        <translation>Delete the %1 selected proxies? Deleted data cannot be recovered!</translation>
    </message>
    <message>
        <source>验证完毕: 可用 %1 个，失败 %2 个，最快 %3 秒，用时 %4 秒</source>
        <translation>Verified: %1 working, %2 failed, fastest %3 s, took %4 s</translation>
    </message>
    <message>
        <source>验证完毕: 可用 0 个，失败 %1 个，用时 %2 秒</source>
        <translation>Verified: 0 working, %1 failed, took %2 s</translation>
    </message>
    <message>
        <source>选定 %1 / 共 %2 个</source>
        <translation>Selected %1 / total %2</translation>
    </message>
    <message>
        <source>选定 %1 / 显示 %2 / 共 %3 个</source>
        <translation>Selected %1 / shown %2 / total %3</translation>
    </message>
    <message>
        <source>筛选 (Ctrl+F)</source>
        <translation>Filter (Ctrl+F)</translation>
    </message>
    <message>
        <source>只显示地址、类型、状态、备注或国家中含有这段文字的代理</source>
        <translation>Show only the proxies whose address, type, status, remark or country holds this text</translation>
    </message>
    <message>
        <source>只从本次验证可用（60 秒以内）的 HTTP 和 HTTPS 代理中选；SOCKS 等其他类型不会被自动选为常用代理。</source>
        <translation>Chosen only among the HTTP and HTTPS proxies that worked in this run (within 60 seconds); SOCKS and other types are never made favourites automatically.</translation>
    </message>
    <message>
        <source>（本机端口）</source>
        <translation> (local endpoint)</translation>
    </message>
    <message>
        <source>，有应答</source>
        <translation>, answering</translation>
    </message>
    <message>
        <source>，无应答</source>
        <translation>, not answering</translation>
    </message>
    <message>
        <source>域名无法解析</source>
        <translation>name not resolved</translation>
    </message>
    <message>
        <source>主机名太长：最多253个字符。</source>
        <translation>The host name is too long: at most 253 characters.</translation>
    </message>
    <message>
        <source>主机名中两点之间最多63个字符。</source>
        <translation>A host name may have at most 63 characters between two dots.</translation>
    </message>
    <message>
        <source>IPv6地址不能带“%”和网卡名：那只在本机上有意义。</source>
        <translation>An IPv6 address cannot carry “%” and a network interface: that only means something on this computer.</translation>
    </message>
    <message>
        <source>这不是有效的IPv6地址。</source>
        <translation>This is not a valid IPv6 address.</translation>
    </message>
    <message>
        <source>主机名只能由字母、数字、“-”和“.”组成，最后一段不能全是数字。</source>
        <translation>A host name may hold only letters, digits, “-” and “.”, and its last part cannot be all digits.</translation>
    </message>
    <message>
        <source>控制接口无法启动。</source>
        <translation>The control API could not start.</translation>
    </message>
    <message>
        <source>定期检查使用中的代理</source>
        <translation>Check the proxies in use</translation>
    </message>
    <message>
        <source>检查间隔(秒):</source>
        <translation>Check interval (s):</translation>
    </message>
    <message>
        <source>检查超时(秒):</source>
        <translation>Check time-out (s):</translation>
    </message>
    <message>
        <source>无客户端多久后停止检查(秒, 0=不停):</source>
        <translation>Rest with no client for (s, 0 = never):</translation>
    </message>
    <message>
        <source>最快优先的容差(毫秒):</source>
        <translation>Fastest&apos;s tolerance (ms):</translation>
    </message>
    <message>
        <source>连续失败几次后搁置:</source>
        <translation>Failures before set aside:</translation>
    </message>
    <message>
        <source>首次搁置(秒):</source>
        <translation>First time aside (s):</translation>
    </message>
    <message>
        <source>最长搁置(秒):</source>
        <translation>Longest time aside (s):</translation>
    </message>
    <message>
        <source>搁置时关闭经由它的连接</source>
        <translation>Close its connections when set aside</translation>
    </message>
    <message>
        <source>健康检查</source>
        <translation>Health checks</translation>
    </message>
    <message>
        <source>粘性</source>
        <translation>Stickiness</translation>
    </message>
    <message>
        <source>同一目标主机始终经由同一代理</source>
        <translation>Keep each target host on one proxy</translation>
    </message>
    <message>
        <source>闲置多久后解除绑定(秒):</source>
        <translation>Unbind after idle (s):</translation>
    </message>
    <message>
        <source>客户端以用户名 session-KEY 或请求头 X-Quillberry-Session 绑定会话。</source>
        <translation>Clients bind a session with the user name session-KEY or the header X-Quillberry-Session.</translation>
    </message>
    <message>
        <source>控制接口</source>
        <translation>Control API</translation>
    </message>
    <message>
        <source>留空则关闭，如 127.0.0.1:8900</source>
        <translation>Empty: off; e.g. 127.0.0.1:8900</translation>
    </message>
    <message>
        <source>留空则不要求</source>
        <translation>Empty: none asked</translation>
    </message>
    <message>
        <source>监听地址:</source>
        <translation>Listen on:</translation>
    </message>
    <message>
        <source>令牌:</source>
        <translation>Token:</translation>
    </message>
    <message>
        <source>本机端口选项</source>
        <translation>Local Endpoint Options</translation>
    </message>
    <message>
        <source>控制接口在窗口中只能监听本机地址(如 127.0.0.1:8900)。
要在其他地址上提供，请用 quillberry-cli serve --api。</source>
        <translation>The window serves the control API on a loopback address only (such as 127.0.0.1:8900).
To serve it on another address, use quillberry-cli serve --api.</translation>
    </message>
    <message>
        <source>更多选项...</source>
        <translation>More...</translation>
    </message>
    <message>
        <source>令牌不能含有空格或控制字符。</source>
        <translation>The token may not hold blanks or control characters.</translation>
    </message>
    <message>
        <source>TLS被拦截</source>
        <translation>TLS intercepted</translation>
    </message>
    <message>
        <source>内容被篡改</source>
        <translation>content modified</translation>
    </message>
    <message>
        <source>TLS被拦截: %s</source>
        <translation>TLS intercepted: %s</translation>
    </message>
    <message>
        <source>内容被篡改(第%zu字节起)</source>
        <translation>content modified (from byte %zu)</translation>
    </message>
    <message>
        <source>无法读取CA文件    (%s)</source>
        <translation>CA file unreadable    (%s)</translation>
    </message>
    <message>
        <source>信任</source>
        <translation>Trust</translation>
    </message>
    <message>
        <source>网络</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>干净</source>
        <translation>clean</translation>
    </message>
    <message>
        <source>未检查</source>
        <translation>not checked</translation>
    </message>
    <message>
        <source>链式</source>
        <translation>chained</translation>
    </message>
</context>
<context>
    <name>QuillberryHelp</name>
    <message>
        <source>Usage: quillberry [--data-dir DIR] [--lang zh|en] [--verify-all | --cancel-proxy]
       quillberry --help | --version

Opens the window of the proxy list: verification, the system proxy, the proxy
sources and the tray menu of favourites. One window runs per user: a later start
brings the running one forward.

--data-dir DIR   the directory of Proxies.pro, Setting.dat and the other data files
                 (default: the executable&apos;s directory when it is writable and not
                 an installed program&apos;s, otherwise ~/.local/share/Quillberry/)
--lang zh|en     the interface&apos;s language: Chinese or English (default: the
                 setting &quot;language&quot; of ~/.config/Quillberry/interface.ini, else
                 Chinese for a Chinese locale and English for any other)
--verify-all     verify the whole list, as the button &quot;验证全部&quot; does, in the running
                 window (one is started in the tray when none runs)
--cancel-proxy   clear the desktop&apos;s system proxy, as &quot;取消IE代理&quot; does, in the
                 running window (one is started in the tray when none runs)
--help           print this text
--version        print the version

Exit status: 0 when the window ran and was closed, or a running window was asked
to show itself or to do the work; 1 when it could not start (no data directory it
may use, or the instance&apos;s private directory is held by someone else); 4 when a
window runs on another data directory than the one asked for (it is brought
forward, and both directories are named); 5 when a command was writing the data
directory and did not finish within five seconds.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print the proxies found in a text or web page</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>split proxy lines into their five fields</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print the location of an IPv4 or IPv6 address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print the settings and verification resources</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>get, set or clear the desktop&apos;s system proxy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>verify the proxies of the list or of a file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>download proxies from web pages or the ticked sources</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] [--lang zh|en] COMMAND [ARGS...]
       quillberry-cli --help | --version

Commands:
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>
--data-dir DIR  the directory of Proxies.pro, Setting.dat and the other data files
                (default: the program&apos;s data directory)
--lang zh|en    the language of the messages that come from the window&apos;s texts:
                Chinese or English (default: as for the window); what the
                commands print for other programs never changes with it
Run &apos;quillberry-cli COMMAND --help&apos; for a command&apos;s options.

Exit status: 0 done; 1 nothing found, a refusal, or the desktop&apos;s proxy settings
could not be read or written; 2 bad usage or a file that cannot be read; 3 a data
file could not be written (the old one is kept); 4 the data directory is being
written by the window or another command (nothing was changed).
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli lookup [--wry FILE] [--geoip-dir DIR] ADDRESS

Prints where an IPv4 or IPv6 address is: the country and the area, separated by one
blank, as an empty remark gets them; then &quot;source: &quot; and the file that answered.
The sources, first match wins: wry.dll in the data directory (or --wry FILE), every
*.mmdb in the data directory (city databases first), the system&apos;s GeoIP.dat and
GeoIPv6.dat (in /usr/share/GeoIP, or --geoip-dir DIR). A damaged source is named on
standard error and passed over.
Exit status: 0 found, 1 not found, 2 bad usage, an ADDRESS that is not an IP
address, or a --wry file that cannot be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli parse [LINE...]

Splits each proxy line (address:port@type$time-or-status#remark), or each line of
standard input when no LINE is given, and prints the address, port, type,
time-or-status and remark separated by tabs, or the word &apos;invalid&apos;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] download [--fuzzy] [URL...]
       quillberry-cli download [--fuzzy] [--format FORMAT] [--type TYPE] URL...

With URLs: downloads each page as a proxy source is downloaded (straight from its
server, never through a proxy; &quot;http://&quot; is put in front when missing) and prints
the proxy lines found, one per line, each proxy once, in the order found.
--format FORMAT prints them as line (the default), url (type://address:port), csv
(address,port,type,status,remark with a header; CR LF) or json (an array of
objects with those keys); --type TYPE prints only the proxies of one type, and
--working only those whose status is a measured time. --credentials adds the
user name and password that came with a proxy to url, csv and json (never
unless asked).

Without URLs: downloads the ticked sources of Sources.dat in the data directory
into its Proxies.pro, as the download button does, and prints one line per source:
its name and the number of proxies found, or why it failed.

--fuzzy  also find addresses and ports separated by blanks or markup instead of
         &apos;:&apos; (runs when the strict pass found at most 200 proxies on a page)

Limits per page: a page larger than 64 MiB is cut at its last whole line before
64 MiB, and at most %1 proxies are taken from one page (the rest of the page is
ignored). A page cut at either limit is named on standard error, with the limit
it hit.

Messages go to standard error.

Exit status with URLs: 0 when every page was downloaded (also when a page had no
proxies or was cut at a limit); 1 when a URL was skipped or its download failed
(each is named on standard error; the proxies of the other pages are still
printed) or the download could not run; 2 for bad usage (a bad format, or
--format, --type or --working without URLs, among it).
Exit status without URLs: 0 when every source was tried (also when some failed or
had no proxies); 1 when there was nothing to download or the download could not
run; 2 for bad usage or a data file that cannot be read; 3 when Proxies.pro could
not be saved (the message names it; the old file is kept); 4 when the data
directory is being written by another command, or by the window and the proxies
found could not be handed to it (nothing was changed).

While the window runs on the data directory it alone writes Proxies.pro: the
proxies found are handed to it, it adds the new ones to its list and saves it, and
the command prints how many were new.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli extract [--fuzzy] [FILE]
       quillberry-cli extract [--fuzzy] [--format FORMAT] [--type TYPE]
                              [--working] [FILE]

Finds the proxies in FILE, or in standard input when FILE is missing or &apos;-&apos;,
read as one text the way a paste is, and prints each proxy line that would be
added to an empty list, one per line, in the order found.

--fuzzy          also find addresses and ports separated by blanks or markup
                 instead of &apos;:&apos; (runs when the strict pass found at most 200
                 proxies)
--format FORMAT  line (the proxy lines, the default), url (type://address:port),
                 csv (address,port,type,status,remark with a header; CR LF)
                 or json (an array of objects with those keys)
--type TYPE      only the proxies of one type (HTTP, HTTPS, SOCKS4, SOCKS5, FTP,
                 GOPHER)
--working        only the proxies whose status is a measured time
--credentials    with url, csv or json: also the user name and password that
                 came with a proxy (never unless asked)

Exit status 0, also when nothing was found (a message then goes to standard
error); 2 for a bad option or format or a file that cannot be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>carry connections through the working proxies on a local port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>merge the outputs of verify runs (shares, resumed runs) into one list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print the verification history: uptime, median time, results</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>answer requests with the headers and address they came with</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli history [ADDR:PORT[@TYPE]] [--format line|csv|json] [--limit N]
       quillberry-cli history --check

Prints what the verification history (History.sqlite in the data directory) keeps.
The window and &apos;verify&apos; without FILE record every result there; &apos;verify FILE&apos;
does not, as a file&apos;s proxies are not the list&apos;s.

Without a proxy: one line per proxy, by name: its uptime (the share of successful
checks among its latest 20), the median time of those successful ones, the number
of checks kept, the last status, and the anonymity and exit address of the latest
result that had them (&apos;-&apos; for none).
With a proxy: its results, newest first: the time (UTC), the status, the seconds,
the resource, anonymity and exit address. Without @TYPE every type of that
address and port is shown.

--format FORMAT  line (blank-separated, the default), csv (with a header; CR LF)
                 or json (an array of objects)
--limit N        at most N lines (proxies, or results of the proxy)
--check          check the whole history for damage (a small one is checked at
                 every open); a damaged one is moved aside as
                 History.sqlite.damaged-&lt;time&gt; and what can still be read of it
                 is copied into a new one

The history is only read: a directory that cannot be written is read as well.

Exit status: 0 when something was printed (with --check: the history is sound);
1 when the history is empty or holds nothing of the proxy (with --check: it was
damaged and has been rebuilt); 2 for bad arguments or a history that cannot be
read; 4 when --check found damage but the window or another command has the data
directory open (nothing was moved).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It also exits 1 when there is no display to show the window on (the message names
DISPLAY and WAYLAND_DISPLAY; quillberry-cli does the program&apos;s jobs without one),
and 2 for an unknown option or a --lang other than zh or en.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Machine-readable output: csv ends every row with a state column (after the others)
and json and jsonl add a state key beside the status: the status in English, one
of ok (a measured time), unverified, verifying, failed, timeout, mismatch,
password-mismatch, unsupported, error, or other (a text of the user&apos;s own). The
status itself stays as the list file holds it. json and jsonl write the port as a
number.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli settings [--data-dir DIR]

Loads Setting.dat from the data directory as the program does at start-up and
prints the ten settings as key=value lines, then one line per verification
resource: the tick (1 or 0), the name, the URL and the feature string, separated
by tabs. Without Setting.dat, or without a resource in it, the built-in ones are
printed and standard error says so; nothing is written (the window&apos;s first start
saves the settings) and autorun is left alone.
Exit status: 0 loaded, 1 Setting.dat could not be read, 2 bad usage or a
--data-dir that does not exist.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli proxy get
       quillberry-cli proxy set TEXT [--mode 0|1|2]
       quillberry-cli proxy clear [--mode 0|1|2]
       quillberry-cli proxy repair

get    prints the desktop&apos;s proxy server (empty line when none is stored).
set    makes TEXT (address:port, or a proxy line address:port@type) the desktop&apos;s
       proxy and prints what was set, as address:port@TYPE (nothing when the
       desktop did not keep it). A TEXT that is no valid proxy, or with --mode 0
       a GOPHER proxy (the desktop has no entry for it), is refused and the
       desktop&apos;s settings are left as they were. The address may be an IPv6
       address in brackets ([2001:db8::1]:8080) or a host name (gw.example:8080);
       it is printed, and stored, as the proxy list writes it.
clear  gives the desktop back the proxy setting it had before this program first
       set one (the user&apos;s own proxy, or none); without such a record it clears
       the desktop&apos;s proxy.
repair when the desktop still points at a proxy or local endpoint this program
       set and nothing answers there (the program did not exit normally), gives
       the desktop its earlier setting back, or, when Options.ini says to block
       (SystemProxy/WhenDown), leaves it and says so. Nothing to repair prints
       nothing. The user service quillberry-repair.service runs it at log-in
       (systemctl --user enable quillberry-repair.service).
set and clear write proxy.pac into the data directory, as the program does,
       then read the desktop&apos;s settings back: a store that accepted the change
       but did not keep it (no session bus or settings service) is a failure.
--mode 0 sets the proxy directly, 1 through the default auto-config script,
       2 through the script made from UserdefinedTemplate.pac (default: the
       setting m_nAutoProxyConfig in the data directory&apos;s Setting.dat).
       With Script/Failover on in Options.ini, the scripts list the favourite
       proxies after TEXT, fastest first, and end in DIRECT only with
       Script/AllowDirect on.
Exit status: 0 done, 1 the desktop&apos;s settings could not be read or written, did
not keep what was written (the failure and a line saying so are printed), or
TEXT was refused (nothing was changed), 2 bad usage or UserdefinedTemplate.pac
could not be read, 3 proxy.pac could not be written (each failure is named on
standard error), 4 set, clear or repair while the window runs on the data
directory or another command writes it (nothing was changed; the window repairs
at its start).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli judge [--listen ADDRESS:PORT]

Runs a proxy judge: an HTTP server that answers every GET with a page echoing
the request it received, one line per item: REMOTE_ADDR = the address the
connection came from, REMOTE_PORT, REQUEST_METHOD, REQUEST_URI,
SERVER_PROTOCOL, and HTTP_&lt;NAME&gt; = value for each header (X-Forwarded-For as
HTTP_X_FORWARDED_FOR). The page also holds the text &quot;QuillberryJudge&quot;.

Use its URL as the HTTP verification resource, with the feature string
REMOTE_ADDR (or QuillberryJudge): verifying then also tells each working proxy&apos;s
exit address and anonymity (transparent, anonymous or elite). Any other judge
page of this form works the same way. Run it on a host outside your own network
to judge public proxies.

--listen ADDRESS:PORT  where to listen (default localhost:8898; port 0 takes any
                       free one). localhost is both 127.0.0.1 and [::1] on one
                       port, so that a judge URL naming localhost judges each
                       proxy over IPv4 and IPv6; an address is listened on
                       alone. Only loopback serves this computer alone; any
                       other address must be named here

Prints the addresses it listens on, then runs until Ctrl-C or SIGTERM.
Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on;
2 for bad arguments.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] refresh [--fuzzy] [--format text|json]
                      [--threads N] [--connect-timeout S] [--verify-timeout S]
                      [--http URL FEATURE] [--ftp URL FEATURE] [--watchdog S]

Keeps the list fresh without the window, in one run: downloads the ticked sources of
Sources.dat into Proxies.pro (as &apos;download&apos; without URLs does), verifies the whole
list (as &apos;verify&apos; without FILE does, recording every result in the history) and
deletes the history&apos;s results older than Options.ini&apos;s [History] KeepDays (90 by
default; 0 keeps them all). The data directory stays locked for the whole run: a
second refresh, or another command that writes the directory, waits two seconds
and then gives up with status 4. Proxies.pro is only ever replaced whole, so a run
that is killed leaves the list as it was before the last save, never a part of it.
A directory without ticked sources is only verified (said on standard error).

While the window runs on the data directory, the proxies found are handed to it
and it verifies its whole list itself, at once or, when it is busy, as soon as
what it is doing ends; the command does not wait for that verification.

--fuzzy       also find addresses and ports separated by blanks or markup
--format F    text (the default): one line per source, then what the verification
              and the thinning did; json: one object with the same (the keys
              sources, added, handed_to_window, window_verification, verified,
              history and exit)
--threads, --connect-timeout, --verify-timeout, --http, --ftp, --watchdog
              as for &apos;verify&apos; (default: the settings)

Messages go to standard error; no line per proxy is written there.

Exit status: 0 when every source was tried (also when some failed or had no
proxies) and the list was verified, or handed to the window; 1 when the download
stopped before every source was tried or the verification could not start (an
empty list, no HTTP resource); 2 for bad usage or a data file that cannot be
read; 3 when a data file could not be written (Proxies.pro, the history, or no
lock can be made because the directory cannot be written; the old files are
kept); 4 when the data directory is being written by another command, or by the
window and the proxies found could not be handed to it (nothing was changed).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>download the ticked sources, verify the list and thin the history in one run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli serve [--data-dir DIR] [--listen ADDRESS:PORT]
                            [--policy failover|round-robin|fastest] [--type TYPE[,TYPE]]
                            [--api ADDRESS:PORT [--api-token TOKEN]]
                            [--check-interval S] [--check-timeout S] [--lazy-after S]
                            [--tolerance MS] [--failures N] [--set-aside S]
                            [--set-aside-max S] [--close-tunnels yes|no]
                            [--keep-targets yes|no] [--sticky-lease S]

Runs the local endpoint: a proxy on ADDRESS:PORT that takes HTTP (requests and
CONNECT) and SOCKS5 from browsers and tools, and carries each connection through
one of the working proxies of the data directory&apos;s Proxies.pro, with the proxy&apos;s
stored log-on. A proxy that fails is replaced by the next one before the client
sees an error; one that keeps failing is set aside for a while (said on standard
error). The proxies in use are checked on an interval against the ticked HTTP
verification resource of Setting.dat; a proxy set aside comes back when a check
passes. A client that names a session (a log-on user session-KEY, or the header
X-Quillberry-Session) stays on one proxy while it uses it; --keep-targets yes
keeps each target host on one proxy too. The list is read again whenever it
changes on disk. Runs until Ctrl-C or SIGTERM. Nothing in the data
directory is written.

--listen ADDRESS:PORT  where to listen (default: Options.ini, else 127.0.0.1:8899).
                       Only a loopback address serves this computer alone; any
                       other must be named here and is reachable from the network
--policy POLICY        which proxy carries a connection: failover (the fastest that
                       works), round-robin (each connection the next one) or
                       fastest (the shortest time measured so far); default:
                       Options.ini, else failover
--type TYPE[,TYPE]     use only proxies of these types (HTTP, HTTPS, SOCKS4,
                       SOCKS5); default: Options.ini, else all of them
--api ADDRESS:PORT     also serve the control API there: the pool as JSON (/pool,
                       /count, /get), /mark-bad, /check and /metrics for
                       Prometheus (default: [Api] Listen of Options.ini, else off).
                       As with --listen, only a loopback address unless named here
--api-token TOKEN      ask every API request for this token (Authorization: Bearer
                       TOKEN); default: [Api] Token of Options.ini, else none
--check-interval S     check each proxy in use every S seconds; 0: no checks
--check-timeout S      how long a check&apos;s page may take once the proxy is through
--lazy-after S         no checks while no client came for S seconds; 0: never rest
--tolerance MS         fastest moves only to a proxy faster by more than MS
--failures N           failures in a row (connections or checks) that set a proxy
                       aside
--set-aside S          its first time aside, doubled each time up to
--set-aside-max S      this; then it is checked again
--close-tunnels yes|no close the connections open through a proxy set aside
                       Defaults: Options.ini, else 30, 10, 120, 150, 3, 30, 300, yes
--keep-targets yes|no  every connection to one target host goes through one proxy
--sticky-lease S       a session or target leaves its proxy S seconds after its
                       last use; defaults: Options.ini, else no and 600

Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on
(named on standard error); 2 for bad arguments or an unreadable list.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli merge [--format FORMAT] [--type TYPE] [--working] FILE...
       quillberry-cli [--data-dir DIR] merge --into-list FILE...

Merges the outputs of verify runs (the shares of one list verified with --shard,
on one machine or several, and runs resumed with --resume) into one list. Each
FILE (&apos;-&apos; for standard input) holds, one per line and mixed, list-file lines
(verify&apos;s line format, with or without the judge&apos;s anonymity and exit address
after a tab), JSON objects (--format jsonl) and proxy URLs (--format url, read
as unverified); or it is a CSV output (--format csv, known by its header line)
or a JSON array (--format json, a FILE that begins with &apos;[&apos;). The user and
password of an output written with --credentials are not read. Other lines,
records and objects (a line cut off when a run was stopped) are passed over and
counted on standard error.

A proxy (its address, port and type, as the list tells duplicates apart) is one
row. Of its results the last one read wins, the FILEs read in the order given
and each from top to bottom, so that a later run given later replaces an earlier
one; but a row still unverified (&quot;未验证&quot;) never replaces a result. The rows
are printed as a finished verification prints them: sorted by time, fastest
first, then the failures; rows of equal rank in the order first read.

--format FORMAT  line (the list-file lines, the default), url, csv or json, as
                 for verify
--type TYPE      print only the rows of one type
--working        print only the rows whose status is a measured time
--into-list      instead of printing, write the rows into the data directory&apos;s
                 Proxies.pro: a proxy already in the list takes the merged
                 result (its remark stays), a new one is added; the list is then
                 sorted as after a verification. Every result of a jsonl line
                 that says when and against what it was checked (&quot;checked&quot; and
                 &quot;resource&quot;, written by verify --format jsonl) is recorded in the
                 history at that time, once: a check the history already holds
                 (the same proxy, time and resource) is not recorded again.
                 Results without a time (other forms, older outputs) are not
                 recorded and are counted on standard error.

Exit status: 0 done (also when no row was found); 2 bad usage or a FILE that
cannot be read; 3 Proxies.pro or the history could not be written (the old
list is kept; merging again records nothing twice); 4 the
data directory is open in the window or being written by another command
(nothing was changed; import the merged lines in the window instead).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usage: quillberry-cli verify [--data-dir DIR] [--threads N] [--connect-timeout S]
                             [--verify-timeout S] [--http URL FEATURE] [--ftp URL FEATURE]
                             [--watchdog S] [--format FORMAT] [--type TYPE] [--working]
                             [--shard K/N] [--resume OUTPUT]
                             [--resume-history SINCE] [FILE]

Verifies every proxy of FILE (any text, read as the import command reads a file),
or without FILE the data directory&apos;s Proxies.pro, exactly as the button
&quot;验证全部&quot; does, then prints each row as its list-file line in the list&apos;s final
order (sorted by time). Proxies.pro (and the favourite marks in the profile) are
written back only when the data directory&apos;s own list was verified; then every
result is also recorded in the history (History.sqlite, see the history command).

--threads N          proxies checked at once, 1 to 10000 (default: the settings&apos;
                     number of workers); --concurrency N is the same. The checks
                     share a few event loops, not a thread each. The open-file
                     limit is raised as far as the system allows; when it still
                     cannot hold N checks, standard error says so and the run
                     checks as many at once as it holds
--connect-timeout S  connection time-out in seconds (default: the settings)
--verify-timeout S   reply time-out in seconds, to the millisecond (e.g. 0.3):
                     no byte for that long after the request ends a check
                     (default: the settings)
--http URL FEATURE   the HTTP resource: a page that must contain FEATURE
--ftp URL FEATURE    the FTP resource (a log-on test). Without one, FTP proxies are
                     skipped (they keep their texts; standard error counts them)
                     With neither, the resources ticked in the settings are used;
                     with either, exactly the ones given.
--format jsonl       one JSON object per proxy (address, port, type, status,
                     remark; checked, the UTC seconds of the check, and resource,
                     the URL checked), printed as each result comes in, not sorted
--resume OUTPUT      with FILE: skip the proxies that an earlier --format jsonl
                     OUTPUT already holds (append the new run to it)
--resume-history SINCE
                     with FILE: skip the proxies that the data directory&apos;s history
                     has a result for since SINCE: a span before now (90m, 36h, 7d,
                     2w) or a date or time (2026-12-01, 2026-12-01T08:30, local
                     time; a trailing Z for UTC)
--shard K/N          with FILE: verify only share K of N (1 to N) of its proxies,
                     chosen by a hash of each proxy&apos;s address, port and type, so
                     that N machines given the same FILE verify disjoint shares
                     whose outputs together cover it
--watchdog S         seconds after which a transfer that has not ended is given up
                     (default 90)
--format FORMAT      how the rows are printed: line (the list-file lines, the
                     default), url (type://address:port), csv (address,port,type,
                     status,remark with a header; CR LF) or json (an array of
                     objects with those keys)
--type TYPE          print only the rows of one type (HTTP, HTTPS, SOCKS4, SOCKS5,
                     FTP, GOPHER); every row is still verified and saved
--working            print only the rows whose status is a measured time
--credentials        with url, csv or json: also each proxy&apos;s user name and
                     password (from FILE, or the data directory&apos;s store)

With a judge page as the HTTP resource (one that echoes the request it received,
with a &quot;REMOTE_ADDR = address&quot; line, as &apos;quillberry-cli judge&apos; serves), each working
proxy&apos;s anonymity (transparent, anonymous or elite) and exit address are printed
too: line adds a tab, the anonymity, a tab and the exit address after the proxy&apos;s
line; csv adds the columns anonymity and exit; json the keys anonymity and exit.
A judge whose URL names a host with both an IPv4 and an IPv6 address (localhost,
on which &apos;quillberry-cli judge&apos; listens over both by default) is asked through
each proxy over each family: a proxy that leaves over both has both exit
addresses in its one exit field, IPv4 first (&quot;127.0.0.1, ::1&quot;).

A proxy may be named by an IPv6 address in brackets ([2001:db8::1]:1080) or by a
host name. Each name is looked up once per run, beside the checks and within the
connection time-out; a proxy waits for its name without taking a place among the
checks at once, and its time counts from its connection. A name without an
address gives &quot;域名无法解析&quot; (state unresolved).

Progress goes to standard error: a bar on a terminal, otherwise one line per
finished proxy. Ctrl-C stops the run like the stop button (rows not yet started
keep their texts) and still prints and saves; a second Ctrl-C (or SIGTERM) gives
up the rows in flight at once (they show &quot;未验证&quot;).

Exit status: 0 after a finished or stopped run; 1 when the run could not start
(empty list, no HTTP resource, only FTP proxies and no FTP resource, ...); 2 for
bad arguments (a bad format among them) or an unreadable file;
3 when a data file could not be written (named on standard error); 4 when the
data directory&apos;s own list is open in the window or being written by another
command (nothing was verified; give a FILE, or verify in the window).</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
