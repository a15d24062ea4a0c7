<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Quillberry</name>
    <message>
        <source>验证全部</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设为IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>清理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>【设置】</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>▲下载代理资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理列表:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>获取代理网址:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>菜单：收藏的代理、关于、退出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新增 %1 个，重复 %2 个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）1.8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>尚有线程在运行，请等现有的线程停止后再退出。
不再启动新的线程，停止中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出警告</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法确定数据目录：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据目录 %1 正在被 %2 写入。

请等它结束后再启动 Quillberry。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Windows 通信端口初始化失败。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 已经在运行，它打开的数据目录是：
%1

这次启动要求的数据目录是：
%2

请先退出正在运行的程序，再用该目录启动。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 验证中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加菜单项</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请选择常用代理（要打勾）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>初始化</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开设置文件失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>未验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>超时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不匹配</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码不匹配</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不支持此协议</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证异常</source>
        <translation type="unfinished"></translation>
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
        <translation type="unfinished"></translation>
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
        <translation type="unfinished"></translation>
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
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入完毕</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>粘贴完毕</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载异常: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这个代理服务器已经存在列表中</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理服务器类型错误。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理服务器地址错误。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>端口不能小于0，也不能大于65535。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>备注栏不能有分隔符：:、@、$、#、&lt;、&gt;、Tab和空格。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的代理吗？删除数据后不能恢复！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除“连接失败”、“不匹配”和“超时”的代理吗？
删除数据后不能恢复！有些代理过段时间可能还可以用。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开文件失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入列表</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>存盘</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择代理！可以用Shift/Ctrl键 + 鼠标左键一次选择多个代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[常用]类型</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务器地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>端口    </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>时间(s)/状态    </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>－备注－</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有验证资源，将自动装载缺省设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称不能含有字符@和%。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请添加协议头http://或ftp://。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证特征串不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[验证]资源名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>特征字符串</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已经存在该验证资源网址。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源重复</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的验证资源吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有验证资源要存盘。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的资源吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称不能为空或含空格符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址不能为空或含空格符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页超过了下载的大小上限，只读取了上限以内的完整行。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页中的代理超过了每个网页 %d 个的上限，只添加了前 %d 个。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有下载资源，请先添加。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择下载资源，请打勾。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页被截断: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>获取IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建自动代理脚本失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开用户自定义代理自动配置模板失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设置代理失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>桌面没有保存该设置：没有会话总线或设置服务保存它。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 开发组 出品</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每一个代理，都要亲自验过；
每一次切换，只需轻点两下。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry） 1.8版(Build: 20050312)
© Quillberry 开发组，保留所有权利。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于 Ostrel代理验证（Quillberry）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该代理上次验证失败，仍然设为系统代理吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 开发组</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>帮助（%1）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>在代理列表中点击鼠标右键</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>复制代理 (&amp;C) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设为IE代理 (&amp;S) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证选定 (&amp;V) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改选定 (&amp;M) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除选定 (&amp;D) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>全选 (&amp;A)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>托盘菜单</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于『Ostrel代理验证』</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>弹出对话框</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理信息</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>协议:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务器地址:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务端口:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>备注:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数值范围不对</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1.直接设置或取消代理（仅供IE内核浏览器使用）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2.使用最简单的代理自动配置脚本</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3.使用自定义的代理自动配置脚本</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑自定义的代理自动配置模板</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>上网方式</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证参数</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接超时时间:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>秒</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证超时时间:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>并发线程数目:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>自动选择速度最快的</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每隔3小时自动验证全部代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>用户登录计算机后自动启动</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确认</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>启动时最小化</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>个代理为常用代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>启用模糊匹配抓取代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接超时时间应在1~15！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证超时时间应在1~30！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证线程数目应在1~100！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>常用代理数目应在1~15！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有能打开模板文件的程序。

模板文件是：
%1

要把它的路径复制到剪贴板，用其他编辑器打开吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑模板</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证结果</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源信息</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>特征字符串：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>停止验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>停止中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>...停止中</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>空列表，没有要验证的代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择要验证的代理！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有设定http验证资源，无法验证http代理服务器。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有设定ftp验证资源，无法验证ftp代理服务器。
请进入设置在ftp验证资源前打勾。继续吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建验证线程中发生异常</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请耐心等待验证的完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法开启新的验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>等待验证完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证状态：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>地址无效    (%s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接站点%d    (%s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>异常错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>可用(%.1f)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不匹配(%.1f)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法连接代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理连接失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理响应超时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言将在下次启动时更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation type="unfinished"></translation>
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
        <translation>用法: quillberry [--data-dir 目录] [--lang zh|en] [--verify-all | --cancel-proxy]
      quillberry --help | --version

打开代理列表的窗口：验证、系统代理、代理资源，以及常用代理的托盘菜单。每个用户只运行
一个窗口：再次启动会把正在运行的窗口提到前面。

--data-dir 目录   Proxies.pro、Setting.dat 等数据文件所在的目录（缺省：可执行文件所在
                 的目录，若它可写且不是安装的程序；否则 ~/.local/share/Quillberry/）
--lang zh|en     界面语言：中文或英文（缺省：~/.config/Quillberry/interface.ini 中的
                 设置 &quot;language&quot;；没有时，中文区域设置用中文，其他区域设置用英文）
--verify-all     在正在运行的窗口中验证整个列表，与按钮&quot;验证全部&quot;相同（没有窗口在
                 运行时，在托盘中启动一个）
--cancel-proxy   在正在运行的窗口中取消桌面的系统代理，与&quot;取消IE代理&quot;相同（没有窗口
                 在运行时，在托盘中启动一个）
--help           显示本说明
--version        显示版本

退出状态：0 窗口运行后被关闭，或已让正在运行的窗口显示自己或完成工作；1 无法启动
（没有可用的数据目录，或实例的私有目录被别人占用）；4 正在运行的窗口使用的数据目录
不是所要求的（它被提到前面，两个目录都会列出）；5 有命令正在写入数据目录，五秒内
没有结束。
</translation>
    </message>
    <message>
        <source>print the proxies found in a text or web page</source>
        <translation>列出文本或网页中找到的代理</translation>
    </message>
    <message>
        <source>split proxy lines into their five fields</source>
        <translation>把代理行拆成五个字段</translation>
    </message>
    <message>
        <source>print the location of an IPv4 address</source>
        <translation>列出 IPv4 地址的所在地</translation>
    </message>
    <message>
        <source>print the settings and verification resources</source>
        <translation>列出设置和验证资源</translation>
    </message>
    <message>
        <source>get, set or clear the desktop&apos;s system proxy</source>
        <translation>读取、设置或取消桌面的系统代理</translation>
    </message>
    <message>
        <source>verify the proxies of the list or of a file</source>
        <translation>验证列表或文件中的代理</translation>
    </message>
    <message>
        <source>download proxies from web pages or the ticked sources</source>
        <translation>从网页或打勾的资源下载代理</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] [--lang zh|en] COMMAND [ARGS...]
       quillberry-cli --help | --version

Commands:
</source>
        <translation>用法: quillberry-cli [--data-dir 目录] [--lang zh|en] 命令 [参数...]
      quillberry-cli --help | --version

命令:
</translation>
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
        <translation>
--data-dir 目录  Proxies.pro、Setting.dat 等数据文件所在的目录
                （缺省：程序的数据目录）
--lang zh|en    来自窗口文字的消息所用的语言：中文或英文（缺省：与窗口相同）；
                命令为其他程序输出的内容不随语言改变
运行 &apos;quillberry-cli 命令 --help&apos; 查看命令的选项。

退出状态：0 完成；1 什么也没找到、被拒绝，或无法读写桌面的代理设置；2 用法错误
或文件无法读取；3 数据文件无法写入（旧文件保留）；4 数据目录正被窗口或另一个命令
写入（没有作任何更改）。
</translation>
    </message>
</context>
</TS>
